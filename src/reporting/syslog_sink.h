#pragma once
// The system log: entries go to syslog as the datagrams glibc's syslog() writes,
// "<PRI>Mmm dd hh:mm:ss TAG[PID]: text", over the local datagram socket /dev/log (journald and
// rsyslog read it). POSTVANE_SYSLOG_SOCKET, when set, names another socket; tests bind their
// own. Facility mail; an error entry is LOG_ERR, an information entry LOG_INFO.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/date_time.h"

namespace pv {

// The entry types, numbered as the callers' result kinds.
enum EventLogType : std::uint16_t { kEventError = 1, kEventWarning = 2, kEventInformation = 4 };

inline constexpr std::string_view kDefaultEventSource = "Vesko";
inline constexpr const char* kSyslogSocketVariable = "POSTVANE_SYSLOG_SOCKET";
inline constexpr const char* kDefaultSyslogSocket = "/dev/log";
// Longest text of one entry; a longer one is cut (on a character boundary) and marked.
inline constexpr std::size_t kMaxSyslogText = 64 * 1024;
inline constexpr std::string_view kTruncatedNote = " [truncated]";

// Where entries are written.
class EventLog {
 public:
  virtual ~EventLog() = default;
  // Writes one entry: "" on success, else the error number in decimal. An empty source is
  // set to "Vesko" for the caller.
  virtual std::string WriteEventLogEntry(const std::string& text, std::uint16_t type,
                                         std::string& source) = 0;
};

// mail facility | severity: 19 (err) for type 1, 20 (warning) for 2, 22 (info) otherwise.
int SyslogPriority(std::uint16_t type);

// One datagram: the text as bytes of the system code page, cut at a character 0 and at
// kMaxSyslogText; several lines stay one entry.
std::string FormatSyslogDatagram(int priority, LocalDateTime time, std::string_view tag,
                                 long pid, std::string_view text);

class SyslogSink : public EventLog {
 public:
  // Connects, sends and closes for every entry: no descriptor is held between entries, and a
  // restarted log daemon is found again without any reconnect logic. The socket never blocks;
  // a missing or full log socket is an error result.
  std::string WriteEventLogEntry(const std::string& text, std::uint16_t type,
                                 std::string& source) override;

  // POSTVANE_SYSLOG_SOCKET when set and not empty, else /dev/log.
  static std::string SocketPath();
};

}  // namespace pv
