#pragma once
// MX and address lookups through c-ares, with the configured DNS servers or the system's.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

enum class DnsStatus {
  Ok,
  NoData,    // the name exists but has no record of the type (no MX: implicit MX applies)
  NotFound,  // NXDOMAIN: permanent
  NullMx,    // the single MX "." (RFC 7505): the domain takes no mail, permanent
  TempFail,  // SERVFAIL, timeout, refused, unreachable servers: temporary
};

// "Ok", "NoData", ...: for logs and test messages.
std::string_view DnsStatusName(DnsStatus status);

struct MxHost {
  std::uint16_t preference = 0;
  std::string name;
};

struct MxAnswer {
  DnsStatus status = DnsStatus::TempFail;
  std::vector<MxHost> hosts;  // by preference; random order among equal preferences
  std::string text;           // for the transcript: the records, or what went wrong
};

struct AddressAnswer {
  DnsStatus status = DnsStatus::TempFail;
  std::vector<std::string> addresses;  // IP literals: IPv4 first, then IPv6
  std::string text;
};

// Safe to share between threads: each lookup borrows a channel of its own.
class DnsResolver {
 public:
  // servers: comma-separated IP addresses, each optionally with ":port" (IPv6 as [addr]:port);
  // empty: the system's servers. An IP literal given to LookupAddresses is answered at once.
  DnsResolver(const std::string& servers, std::chrono::milliseconds timeout);
  ~DnsResolver();
  DnsResolver(const DnsResolver&) = delete;
  DnsResolver& operator=(const DnsResolver&) = delete;

  // "" when the resolver is usable, else why not (a bad server list, for example).
  const std::string& initError() const;
  MxAnswer LookupMx(const std::string& domain);
  AddressAnswer LookupAddresses(const std::string& host);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pv
