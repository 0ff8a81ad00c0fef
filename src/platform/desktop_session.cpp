#include "platform/desktop_session.h"

#include <QDir>
#include <QLibraryInfo>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pv {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool ConnectsLocally(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, path.size());
  const Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return socket.fd() >= 0 &&
         ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

// A TCP connection within a second (an X server forwarded by SSH listens on localhost).
bool ConnectsByTcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool connected = false;
  for (const addrinfo* a = found; a && !connected; a = a->ai_next) {
    const Socket socket(::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.fd() < 0) continue;
    if (::connect(socket.fd(), a->ai_addr, a->ai_addrlen) == 0) {
      connected = true;
      break;
    }
    if (errno != EINPROGRESS) continue;
    pollfd waiting{socket.fd(), POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof(error);
    connected = ::poll(&waiting, 1, 1000) == 1 &&
                ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }
  ::freeaddrinfo(found);
  return connected;
}

bool XServerAnswers(const std::string& display) {
  XDisplayAddress address;
  if (!ParseXDisplay(display, address)) return false;
  if (address.host.empty() || address.host == "unix")
    return ConnectsLocally("/tmp/.X11-unix/X" + std::to_string(address.number));
  return ConnectsByTcp(address.host, 6000 + address.number);
}

bool WaylandAnswers(const std::string& name) {
  if (name.empty()) return false;
  const std::string path = name.front() == '/' ? name : Env("XDG_RUNTIME_DIR") + "/" + name;
  return ConnectsLocally(path);
}

bool QtHasWaylandPlugin() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
  return !platforms.entryList({"libqwayland*.so"}, QDir::Files).isEmpty();
}

}  // namespace

bool ParseXDisplay(const std::string& display, XDisplayAddress& address) {
  const std::size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  address.host = display.substr(0, colon);
  if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']')
    address.host = address.host.substr(1, address.host.size() - 2);
  const char* first = display.data() + colon + 1;
  const char* last = display.data() + display.size();
  const auto [end, error] = std::from_chars(first, last, address.number);
  if (error != std::errc() || end == first || address.number < 0) return false;
  // What may follow is the screen: ".S".
  return end == last || (*end == '.' && end + 1 < last);
}

DesktopSession FindDesktopSession() {
  DesktopSession session;
  if (!Env("QT_QPA_PLATFORM").empty()) {
    session.reachable = true;
    return session;
  }
  const std::string display = Env("DISPLAY");
  if (!display.empty() && XServerAnswers(display)) {
    session.reachable = true;
    return session;
  }
  const std::string wayland = Env("WAYLAND_DISPLAY");
  if (WaylandAnswers(wayland) && QtHasWaylandPlugin()) {
    session.reachable = true;
    session.platform = "wayland";
    return session;
  }
  if (display.empty() && wayland.empty())
    session.reason = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  else if (!display.empty())
    session.reason = "the X display " + display + " does not answer";
  else
    session.reason = "the Wayland display " + wayland + " does not answer or Qt cannot use it";
  return session;
}

}  // namespace pv
