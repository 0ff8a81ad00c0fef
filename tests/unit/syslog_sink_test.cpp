#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "reporting/syslog_sink.h"
#include "support/text.h"
#include "support/unique_fd.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

// A log socket of the test's own, named by POSTVANE_SYSLOG_SOCKET while it lives.
class LogSocket {
 public:
  explicit LogSocket(const std::string& path, bool bind = true)
      : fd_(::socket(AF_UNIX, SOCK_DGRAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind) {
      EXPECT_EQ(::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ::setenv(kSyslogSocketVariable, path.c_str(), 1);
  }
  ~LogSocket() { ::unsetenv(kSyslogSocketVariable); }
  std::string Receive() {
    std::string buffer(256 * 1024, '\0');
    const ssize_t n = ::recv(fd_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    return n < 0 ? "<nothing>" : buffer.substr(0, static_cast<std::size_t>(n));
  }

 private:
  UniqueFd fd_;
};

TEST(SyslogSink, DatagramFormat) {
  const std::vector<std::tuple<std::uint16_t, LocalDateTime, std::string, std::string>> cases = {
      {1, LocalDateTime::FromCivil(2024, 3, 5, 7, 8, 9), "a\r\nb",
       "<19>Mar  5 07:08:09 PVX[42]: a\r\nb"},
      {4, LocalDateTime::FromCivil(2024, 1, 1), std::string("ab\0cd", 5),
       "<22>Jan  1 00:00:00 PVX[42]: ab"},
  };
  for (const auto& [type, time, text, expected] : cases)
    EXPECT_EQ(FormatSyslogDatagram(SyslogPriority(type), time, "PVX", 42, text), expected);

  std::string big = "x";  // puts every two-byte character across the limit
  while (big.size() < kMaxSyslogText + 10) big += "\xC3\xBC";
  const std::string datagram = FormatSyslogDatagram(22, {}, "PVX", 1, big);
  const std::string body = datagram.substr(datagram.find("]: ") + 3);
  EXPECT_LE(body.size(), kMaxSyslogText);
  EXPECT_TRUE(body.ends_with(kTruncatedNote));
  EXPECT_TRUE(IsValidUtf8(body));
}

TEST(SyslogSink, MissingOrFullSocketGivesAnErrorWithoutWaiting) {
  test::TempDir dir;
  SyslogSink sink;
  std::string source = "PVX";
  {
    LogSocket absent(dir / "absent", false);
    EXPECT_EQ(sink.WriteEventLogEntry("text", 1, source), std::to_string(ENOENT));
  }
  // Nobody reads this socket: once its queue is full, entries fail instead of blocking.
  LogSocket log(dir / "log");
  std::string result;
  for (int i = 0; i < 10000 && result.empty(); ++i)
    result = sink.WriteEventLogEntry(std::string(1000, 'x'), 1, source);
  EXPECT_EQ(result, std::to_string(EAGAIN));
}

}  // namespace
}  // namespace pv
