#include "platform/control_channel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QSocketNotifier>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/user_dirs.h"
#include "platform/watch_event.h"
#include "support/paths.h"
#include "support/unique_fd.h"

namespace pv {
namespace {

// A request names at most one mail (a file name has at most 255 bytes).
constexpr qint64 kMaxRequest = 1024;
// An answer may list a whole queue; a client takes no more than this.
constexpr std::size_t kMaxAnswer = 256 * 1024 * 1024;
// An event line carries one result message.
constexpr qint64 kMaxWatchLine = 1024 * 1024;

uid_t PeerUid(QLocalSocket* socket) {
  ucred cred{};
  socklen_t length = sizeof cred;
  if (::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred,
                   &length) != 0)
    return static_cast<uid_t>(-1);
  return cred.uid;
}

// One line without its line end, at most limit bytes.
std::string ReadLineOf(QLocalSocket& socket, qint64 limit) {
  std::string line = socket.readLine(limit).toStdString();
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string ReadRequest(QLocalSocket* socket) { return ReadLineOf(*socket, kMaxRequest); }

bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int rc;
  do rc = ::poll(&p, 1, timeoutMs); while (rc < 0 && errno == EINTR);
  return rc > 0;
}

}  // namespace

ControlServer::ControlServer(std::string runtimeDirectory, Handler handler)
    : runtimeDirectory_(std::move(runtimeDirectory)), handler_(std::move(handler)) {}

ControlServer::~ControlServer() {
  wake_.reset();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::string ControlServer::path() const {
  return AddTrailingSeparator(runtimeDirectory_) + kControlSocketName;
}

bool ControlServer::Listen(std::string& error) {
  // The system service (root or its own system account) serves every local user.
  const bool root = IsSystemAccount(::geteuid());
  MakeDirectories(runtimeDirectory_, root ? 0755 : 0700);
  const QString socketPath = QString::fromStdString(path());
  QLocalServer::removeServer(socketPath);
  server_ = std::make_unique<QLocalServer>();
  if (!server_->listen(socketPath)) {
    error = "cannot listen at " + path() + ": " + server_->errorString().toStdString();
    server_.reset();
    return false;
  }
  if (root) ::chmod(path().c_str(), 0666);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ >= 0) {
    wake_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(wake_.get(), &QSocketNotifier::activated, [this] { sendPending(); });
  }
  QLocalServer* server = server_.get();
  QObject::connect(server, &QLocalServer::newConnection, server, [server, this] {
    while (QLocalSocket* socket = server->nextPendingConnection()) serve(socket);
  });
  return true;
}

void ControlServer::serve(QLocalSocket* socket) {
  QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { answer(socket); });
  QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
}

void ControlServer::answer(QLocalSocket* socket) {
  const bool watching = socket->property("watching").toBool();
  if (watching || !socket->canReadLine()) {
    // A watcher has nothing more to say; a request without its line end waits for it.
    if (watching) socket->readAll();
    else if (socket->bytesAvailable() > kMaxRequest) socket->abort();
    return;
  }
  const std::string request = ReadRequest(socket);
  std::string reply = handler_(request, PeerUid(socket));
  const bool watch = request == kWatchRequest && reply == "OK";
  std::erase_if(watchers_, [](const QPointer<QLocalSocket>& w) { return w.isNull(); });
  if (watch && static_cast<int>(watchers_.size()) >= kMaxWatchers) reply = "BUSY";
  reply += "\n";
  socket->write(reply.data(), static_cast<qint64>(reply.size()));
  if (watch && reply == "OK\n") {
    socket->setProperty("watching", true);
    watchers_.emplace_back(socket);
    return;
  }
  socket->disconnectFromServer();
}

void ControlServer::Broadcast(const std::string& line) {
  if (wakeFd_ < 0) return;
  {
    std::lock_guard lock(pendingMutex_);
    if (pending_.size() >= kMaxPendingEvents) return;
    pending_.push_back(line);
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void ControlServer::sendPending() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
  std::deque<std::string> lines;
  {
    std::lock_guard lock(pendingMutex_);
    lines.swap(pending_);
  }
  for (const std::string& line : lines) sendToWatchers(line);
}

void ControlServer::sendToWatchers(const std::string& line) {
  const std::string data = line + "\n";
  for (QPointer<QLocalSocket>& watcher : watchers_) {
    if (watcher.isNull()) continue;
    if (watcher->bytesToWrite() > kMaxWatchBacklog) {
      watcher->abort();
      continue;
    }
    watcher->write(data.data(), static_cast<qint64>(data.size()));
  }
  std::erase_if(watchers_, [](const QPointer<QLocalSocket>& w) { return w.isNull(); });
}

ControlWatch::ControlWatch() = default;

ControlWatch::~ControlWatch() {
  if (socket_) {
    socket_->disconnect();
    socket_->abort();
  }
}

void ControlWatch::Start(const std::string& socketPath) {
  socket_ = std::make_unique<QLocalSocket>();
  QLocalSocket* socket = socket_.get();
  QObject::connect(socket, &QLocalSocket::connected, socket, [socket] {
    const std::string line = std::string(kWatchRequest) + "\n";
    socket->write(line.data(), static_cast<qint64>(line.size()));
  });
  QObject::connect(socket, &QLocalSocket::readyRead, socket, [this] { readLines(); });
  QObject::connect(socket, &QLocalSocket::disconnected, socket, [this] {
    close(watching_ ? "the spooler closed the connection" : "the spooler did not answer");
  });
  QObject::connect(socket, &QLocalSocket::errorOccurred, socket, [this, socket] {
    if (socket->state() != QLocalSocket::ConnectedState) close(socket->errorString().toStdString());
  });
  socket->connectToServer(QString::fromStdString(socketPath));
}

void ControlWatch::readLines() {
  while (socket_ && socket_->canReadLine()) {
    const std::string line = ReadLineOf(*socket_, kMaxWatchLine);
    if (!watching_) {
      if (line != "OK") return close("the spooler answered " + line);
      watching_ = true;
      continue;
    }
    if (onEvent) onEvent(line);
  }
}

void ControlWatch::close(const std::string& why) {
  if (closed_) return;
  closed_ = true;
  watching_ = false;
  if (onClosed) onClosed(why);
}

std::string SendControlRequest(const std::string& socketPath, const std::string& request,
                               std::string& error, int timeoutMs) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!fd.ok() || socketPath.size() >= sizeof address.sun_path) {
    error = "cannot reach " + socketPath;
    return "";
  }
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = socketPath + ": " + std::strerror(errno);
    return "";
  }
  const std::string line = request + "\n";
  if (::send(fd.get(), line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    error = socketPath + ": " + std::strerror(errno);
    return "";
  }
  std::string answer;
  char buffer[65536];
  std::size_t end = std::string::npos;
  while (end == std::string::npos && answer.size() < kMaxAnswer &&
         WaitFor(fd.get(), POLLIN, timeoutMs)) {
    const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
    end = answer.find('\n', answer.size() - static_cast<std::size_t>(n));
  }
  if (end == std::string::npos) {
    error = socketPath + (answer.empty() ? ": no answer" : ": the answer was cut short");
    return "";
  }
  return answer.substr(0, end);
}

std::string ServiceControlSocket() {
  return AddTrailingSeparator(ServiceRuntimeDirectory()) + kControlSocketName;
}

std::vector<std::string> ReachableControlSockets() {
  std::vector<std::string> candidates = {AddTrailingSeparator(RuntimeDirectory()) + kControlSocketName};
  if (::geteuid() != 0) candidates.push_back(ServiceControlSocket());
  std::vector<std::string> reachable;
  for (const std::string& candidate : candidates) {
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        std::find(reachable.begin(), reachable.end(), candidate) == reachable.end())
      reachable.push_back(candidate);
  }
  return reachable;
}

}  // namespace pv
