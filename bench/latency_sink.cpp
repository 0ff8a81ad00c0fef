// The benchmark's SMTP sink: accepts every mail and waits DELAY_MS before each reply to the
// final dot, on one thread with epoll, so that it costs next to nothing beside the spooler it
// measures (tests/rig/smtp/latency_sink.py does the same, scripted, for the tests).
//
//   bench_latency_sink --log FILE [--ready FILE] [--data-ms MS] --listen 127.x.y.z:PORT ...
//
// FILE gets one whole line per event, written with one write(2) each, tab separated, times
// in CLOCK_REALTIME seconds: "C <time> <connection> <open>", "M <time> <connection> <rcpts>",
// "X <time> <connection>". Loopback addresses only. SIGTERM or SIGINT ends it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
volatile sig_atomic_t stopping = 0;

struct Session {
  int fd = -1;
  int number = 0;
  std::string in, out;
  bool inData = false;
  bool waiting = false;  // a final dot's reply is due: input waits behind it
  int rcpts = 0;
};

class Sink {
 public:
  Sink(int log, std::chrono::milliseconds delay) : log_(log), delay_(delay) {}

  bool Listen(const std::string& address) {
    const auto colon = address.rfind(':');
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1))));
    if (colon == std::string::npos || address.rfind("127.", 0) != 0 ||
        inet_pton(AF_INET, address.substr(0, colon).c_str(), &sa.sin_addr) != 1)
      return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 1024) != 0)
      return false;
    listeners_.push_back(fd);
    Watch(fd, EPOLLIN);
    return true;
  }

  void Run() {
    epoll_event events[256];
    while (!stopping) {
      const int n = ::epoll_wait(epoll_, events, 256, NextTimeoutMs());
      for (int i = 0; i < n; ++i) OnEvent(events[i].data.fd);
      FireDue();
    }
  }

 private:
  void Watch(int fd, std::uint32_t what) {
    epoll_event ev{};
    ev.events = what;
    ev.data.fd = fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
  }

  void Log(const std::string& fields) {
    char stamp[32];
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::snprintf(stamp, sizeof stamp, "%.6f",
                  std::chrono::duration<double>(now).count());
    const std::string line = fields.substr(0, 1) + "\t" + stamp + fields.substr(1) + "\n";
    (void)!::write(log_, line.data(), line.size());
  }

  void OnEvent(int fd) {
    for (int listener : listeners_)
      if (fd == listener) return Accept(fd);
    const auto it = sessions_.find(fd);
    if (it == sessions_.end()) return;
    Session& s = *it->second;
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0) {
        s.in.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got == 0 || (errno != EAGAIN && errno != EINTR)) return Close(s);
      break;
    }
    Work(s);
  }

  void Accept(int listener) {
    for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      auto s = std::make_unique<Session>();
      s->fd = fd;
      s->number = ++connections_;
      Log("C\t" + std::to_string(s->number) + "\t" + std::to_string(sessions_.size() + 1));
      s->out = "220 sink.test ESMTP latency sink\r\n";
      Session& session = *s;
      sessions_[fd] = std::move(s);
      Watch(fd, EPOLLIN | EPOLLET);
      Flush(session);
    }
  }

  void Close(Session& s) {
    Log("X\t" + std::to_string(s.number));
    ::close(s.fd);
    for (auto& due : due_)
      if (due.second == s.fd) due.second = -1;
    sessions_.erase(s.fd);
  }

  // Answers what is complete in the input, in order, until a reply has to wait.
  void Work(Session& s) {
    while (!s.waiting) {
      if (s.inData) {
        const auto end = s.in.find("\r\n.\r\n");
        if (end == std::string::npos) break;
        s.in.erase(0, end + 5);
        s.inData = false;
        s.waiting = true;
        due_.emplace_back(Clock::now() + delay_, s.fd);
        break;
      }
      const auto end = s.in.find("\r\n");
      if (end == std::string::npos) break;
      const std::string verb = Upper(s.in.substr(0, std::min<std::size_t>(4, end)));
      s.in.erase(0, end + 2);
      if (!Command(s, verb)) return Close(s);
    }
    Flush(s);
  }

  static std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  }

  // False after QUIT.
  bool Command(Session& s, const std::string& verb) {
    if (verb == "EHLO") s.out += "250-sink.test\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 0\r\n";
    else if (verb == "HELO") s.out += "250 sink.test\r\n";
    else if (verb == "MAIL" || verb == "RSET") s.rcpts = 0, s.out += "250 2.0.0 Ok\r\n";
    else if (verb == "RCPT") ++s.rcpts, s.out += "250 2.1.5 Ok\r\n";
    else if (verb == "DATA" && s.rcpts > 0) s.inData = true, s.out += "354 End data\r\n";
    else if (verb == "DATA") s.out += "554 5.5.1 No valid recipients\r\n";
    else if (verb == "NOOP") s.out += "250 2.0.0 Ok\r\n";
    else if (verb == "QUIT") {
      s.out += "221 2.0.0 Bye\r\n";
      Flush(s);
      return false;
    } else s.out += "502 5.5.2 Command not recognized\r\n";
    return true;
  }

  void Flush(Session& s) {
    while (!s.out.empty()) {
      const ssize_t put = ::write(s.fd, s.out.data(), s.out.size());
      if (put <= 0) break;  // a sink's replies are small: a full socket only means a dead peer
      s.out.erase(0, static_cast<std::size_t>(put));
    }
  }

  // Every delay is the same, so the replies fall due in the order they were queued.
  int NextTimeoutMs() const {
    if (due_.empty()) return 1000;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(due_.front().first -
                                                                           Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999) / 1000);
  }

  void FireDue() {
    while (!due_.empty() && due_.front().first <= Clock::now()) {
      const int fd = due_.front().second;
      due_.pop_front();
      const auto it = sessions_.find(fd);
      if (fd < 0 || it == sessions_.end()) continue;
      Session& s = *it->second;
      Log("M\t" + std::to_string(s.number) + "\t" + std::to_string(s.rcpts));
      s.out += "250 2.0.0 Ok: queued\r\n";
      s.rcpts = 0;
      s.waiting = false;
      Work(s);
    }
  }

  int log_;
  std::chrono::milliseconds delay_;
  int epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  std::vector<int> listeners_;
  std::map<int, std::unique_ptr<Session>> sessions_;
  std::deque<std::pair<Clock::time_point, int>> due_;
  int connections_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string log, ready;
  long delay = 0;
  std::vector<std::string> listen;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--log") log = value;
    else if (option == "--ready") ready = value;
    else if (option == "--data-ms") delay = std::stol(value);
    else if (option == "--listen") listen.push_back(value);
  }
  if (log.empty() || listen.empty()) {
    std::fprintf(stderr, "usage: %s --log FILE [--ready FILE] [--data-ms MS] --listen ADDR:PORT...\n", argv[0]);
    return 2;
  }
  const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  Sink sink(logFd, std::chrono::milliseconds(delay));
  for (const std::string& address : listen) {
    if (!sink.Listen(address)) {
      std::fprintf(stderr, "cannot listen on %s (loopback addresses only)\n", address.c_str());
      return 1;
    }
  }
  struct sigaction stop {};
  stop.sa_handler = [](int) { stopping = 1; };
  ::sigaction(SIGTERM, &stop, nullptr);
  ::sigaction(SIGINT, &stop, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  if (!ready.empty()) std::fclose(std::fopen(ready.c_str(), "w"));
  sink.Run();
  return 0;
}
