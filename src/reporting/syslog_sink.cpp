#include "reporting/syslog_sink.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/codepage.h"
#include "support/text.h"
#include "support/unique_fd.h"

namespace pv {
namespace {

constexpr int kFacilityMail = 2 << 3;
constexpr int kSeverityError = 3;
constexpr int kSeverityWarning = 4;
constexpr int kSeverityInformation = 6;

// The month names of the C locale: syslog timestamps are never localised.
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "Mmm dd hh:mm:ss" with the day padded by a blank, as strftime "%h %e %T" in the C locale.
std::string SyslogTimestamp(LocalDateTime time) {
  const int month = time.Month();
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s %2d %02d:%02d:%02d",
                kMonths[month >= 1 && month <= 12 ? month - 1 : 0], time.Day(), time.Hour(),
                time.Minute(), time.Second());
  return buffer;
}

// The text up to its first character 0 and at most kMaxSyslogText bytes, cut between
// characters, with a note when it was cut.
std::string BoundedText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  if (text.size() <= kMaxSyslogText) return std::string(text);
  const std::size_t room = kMaxSyslogText - kTruncatedNote.size();
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t next = end + CharLengthAt(text, end);
    if (next > room) break;
    end = next;
  }
  return std::string(text.substr(0, end)) + std::string(kTruncatedNote);
}

std::string ErrnoText(int err) { return std::to_string(err); }

// Sends one datagram to the socket at path without waiting; "" or the errno in decimal.
std::string SendDatagram(const std::string& path, std::string_view datagram) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return ErrnoText(ENAMETOOLONG);
  std::memcpy(address.sun_path, path.data(), path.size());

  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.ok()) return ErrnoText(errno);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return ErrnoText(errno);
  ssize_t sent;
  do {
    sent = ::send(fd.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return ErrnoText(errno);
  return "";
}

}  // namespace

int SyslogPriority(std::uint16_t type) {
  switch (type) {
    case kEventError: return kFacilityMail | kSeverityError;
    case kEventWarning: return kFacilityMail | kSeverityWarning;
    default: return kFacilityMail | kSeverityInformation;
  }
}

std::string FormatSyslogDatagram(int priority, LocalDateTime time, std::string_view tag,
                                 long pid, std::string_view text) {
  const std::string head = "<" + std::to_string(priority) + ">" + SyslogTimestamp(time) + " " +
                           std::string(tag) + "[" + std::to_string(pid) + "]: ";
  Bytes datagram;
  EncodeCodePage(head + BoundedText(text), DefaultCodePage(), datagram);
  return datagram;
}

std::string SyslogSink::SocketPath() {
  const char* path = std::getenv(kSyslogSocketVariable);
  return path != nullptr && *path != '\0' ? std::string(path) : std::string(kDefaultSyslogSocket);
}

std::string SyslogSink::WriteEventLogEntry(const std::string& text, std::uint16_t type,
                                           std::string& source) {
  if (source.empty()) source = std::string(kDefaultEventSource);
  const std::string datagram = FormatSyslogDatagram(SyslogPriority(type), LocalDateTime::Now(),
                                                    source, static_cast<long>(::getpid()), text);
  return SendDatagram(SocketPath(), datagram);
}

}  // namespace pv
