#pragma once
// What the operating system tells about this machine and user. The parsing pieces are pure so
// that tests can feed them; the query functions read the live system.
#include <string>
#include <string_view>

namespace pv {

// ---- DNS servers: the "nameserver" lines of /etc/resolv.conf ----
// The servers of a resolv.conf text, comma-separated, in file order ("" when none).
std::string ParseResolvConfServers(std::string_view content);
// False when the file cannot be read (servers then "").
bool SystemDnsServers(std::string& servers, const std::string& resolvConf = "/etc/resolv.conf");

// ---- Host name ----
// The host's name with its domain: the name itself when it holds a dot, else the canonical
// name when that does, else the bare name.
std::string ComposeHostName(std::string_view hostName, std::string_view canonicalName);
std::string GetLocalHostName();
// The name the host is set to (gethostname), as it is: no domain looked up.
std::string GetComputerName();
// The NIS domain, "" when none is set.
std::string GetLogonDomain();
// No workgroups on Linux: always "".
std::string GetWorkgroupName();

// ---- The user's mail address ----
// `"name" <address>` when name is not empty, else the address alone.
std::string FormatMailAddress(std::string_view displayName, std::string_view address);
// The full name of a passwd GECOS field: its first comma-separated part, "&" standing for the
// capitalised login name.
std::string FullNameFromGecos(std::string_view gecos, std::string_view login);
// The default address from $EMAIL: kept as it is when it already carries a display name
// ("Name <address>"), else formatted with the full name. "" without $EMAIL.
std::string DefaultMailAddressFrom(std::string_view email, std::string_view fullName);
std::string GetDefaultMailAddress();

// ---- Locale, session, process ----
// ";" when the locale's decimal point is ",", else ",".
std::string ListSeparatorFor(std::string_view decimalPoint);
std::string LocaleListSeparator();
// An SSH session: SSH_CONNECTION is set.
bool IsRemoteSession();
// The effective user is root, or a member of a group that polkit asks for an administrator's
// password (sudo on Debian and Ubuntu, wheel on Fedora and Arch, admin on older Ubuntu): such a
// user reaches what needs root through polkit's password dialog.
bool IsUserAdministrator();
// The platform has services and a system log.
inline bool IsWindowsNT() { return true; }
// The running executable's full path ("" when it cannot be read).
std::string ExecutablePath();

}  // namespace pv
