#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/systemd_notifier.h"
#include "support/unique_fd.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

// systemd's end of the socket: bound, read only when the test says so.
class Receiver {
 public:
  // name: a path, or "@name" for an abstract socket.
  explicit Receiver(const std::string& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    socklen_t length = sizeof address;
    if (name.front() == '@') {
      address.sun_path[0] = '\0';
      length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    }
    fd_ = UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int tiny = 1;
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
    EXPECT_EQ(::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), length), 0);
  }
  std::vector<std::string> Drain() {
    std::vector<std::string> messages;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;)
      messages.emplace_back(buffer, static_cast<std::size_t>(n));
    return messages;
  }

 private:
  UniqueFd fd_;
};

// Far more than any datagram queue holds: sending must never wait for systemd.
constexpr int kFlood = 3000;

TEST(ServiceNotifier, NeverBlocksDropsStatusAndKeepsReadyAndStoppingInOrder) {
  // systemd's abstract name; a socket at a path: service_test.cpp.
  for (const std::string& name : {"@pv-notify-test-" + std::to_string(::getpid())}) {
    Receiver systemd(name);
    ServiceNotifier notifier(name);
    notifier.Status("first");
    EXPECT_EQ(systemd.Drain(), std::vector<std::string>{"STATUS=first"}) << name;

    for (int i = 0; i < kFlood; ++i) notifier.Status("line\n" + std::to_string(i));
    notifier.Ready("Next Run at 12:00");
    notifier.Status("dropped while READY waits");
    notifier.Stopping();
    ASSERT_TRUE(notifier.HasPending()) << name << ": the queue never filled";
    EXPECT_FALSE(notifier.FlushPending(std::chrono::milliseconds(20))) << name;

    const std::vector<std::string> flood = systemd.Drain();
    ASSERT_FALSE(flood.empty());
    EXPECT_EQ(flood.front(), "STATUS=line 0") << "one line per status";
    EXPECT_TRUE(notifier.SendPending()) << name;
    EXPECT_EQ(systemd.Drain(),
              (std::vector<std::string>{"READY=1\nSTATUS=Next Run at 12:00", "STOPPING=1"}))
        << name;
    EXPECT_FALSE(notifier.HasPending());
  }
}

TEST(ServiceNotifier, WithoutSystemdNothingIsSentOrKept) {
  test::TempDir dir;
  for (const std::string& name : {std::string(), dir / "nobody-listens.sock", std::string("x")}) {
    ServiceNotifier notifier(name);
    notifier.Ready("r");
    notifier.Stopping();
    EXPECT_FALSE(notifier.HasPending()) << name;
    EXPECT_TRUE(notifier.FlushPending(std::chrono::milliseconds(0))) << name;
  }
}

}  // namespace
}  // namespace pv
