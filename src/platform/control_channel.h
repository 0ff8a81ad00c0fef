#pragma once
// The control channel of a running spooler: a local socket "control" in the runtime directory
// that takes one request line and gives one answer line. Requests: "SPOOLNOW" (an immediate
// run), "PAUSE", "CONTINUE" (only from the spooler's own user or root), "STATUS", "SPOOLDIR"
// (the spool directory and extension that clients write into, "<directory>\t<extension>"), and
// the queue requests (shell/queue_channel.h), whose answer line may be long: a whole listing.
// "WATCH" answered "OK" keeps the connection open: the spooler then sends one line for each
// event (platform/watch_event.h) until either side closes it.
#include <QPointer>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

class QLocalServer;
class QLocalSocket;
class QSocketNotifier;

namespace pv {

inline constexpr const char* kControlSocketName = "control";

class ControlServer {
 public:
  // handler(request, peer uid) -> the answer line (without line end). Runs on the thread that
  // owns the event loop.
  using Handler = std::function<std::string(const std::string& request, uid_t peerUid)>;

  ControlServer(std::string runtimeDirectory, Handler handler);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Listens at <runtime directory>/control, replacing a socket file left by a dead process
  // (the caller holds the instance lock, so no live spooler owns it). World-accessible for
  // root's service, so that users can ask it for a run; PAUSE and CONTINUE check the caller.
  bool Listen(std::string& error);
  std::string path() const;

  // Sends one event line (without line end) to every watcher. Any thread may call: the line
  // waits in a queue until the server's thread, woken through an eventfd, sends it. A watcher
  // that has more than kMaxWatchBacklog bytes unread is dropped; beyond kMaxPendingEvents
  // unsent lines new ones are dropped.
  void Broadcast(const std::string& line);

  static constexpr int kMaxWatchers = 64;
  static constexpr qint64 kMaxWatchBacklog = 1024 * 1024;
  static constexpr std::size_t kMaxPendingEvents = 10000;

 private:
  void serve(QLocalSocket* socket);
  void answer(QLocalSocket* socket);
  void sendPending();
  void sendToWatchers(const std::string& line);

  std::string runtimeDirectory_;
  Handler handler_;
  std::unique_ptr<QLocalServer> server_;
  std::vector<QPointer<QLocalSocket>> watchers_;
  std::mutex pendingMutex_;
  std::deque<std::string> pending_;
  int wakeFd_ = -1;
  std::unique_ptr<QSocketNotifier> wake_;
};

// A connection that watches a spooler: sends WATCH and hands each event line to onEvent;
// onClosed once, when the spooler refused the watch, closed the connection or could not be
// reached. Lives on the thread of its event loop.
class ControlWatch {
 public:
  std::function<void(const std::string& line)> onEvent;
  std::function<void(const std::string& why)> onClosed;

  ControlWatch();
  ~ControlWatch();
  ControlWatch(const ControlWatch&) = delete;
  ControlWatch& operator=(const ControlWatch&) = delete;

  void Start(const std::string& socketPath);
  // Whether the spooler took the watch and the connection is open.
  bool watching() const { return watching_; }

 private:
  void readLines();
  void close(const std::string& why);

  std::unique_ptr<QLocalSocket> socket_;
  bool watching_ = false;
  bool closed_ = false;
};

// Sends one request to the spooler listening at socketPath; its answer line, or "" with error
// set (also for an answer cut short before its line end). timeoutMs: the longest silence.
std::string SendControlRequest(const std::string& socketPath, const std::string& request,
                               std::string& error, int timeoutMs = 5000);

// The control sockets a client may reach: $POSTVANE_RUNTIME_DIR's, the user's and the system
// service's, each once, those whose socket file exists.
std::vector<std::string> ReachableControlSockets();
// The system service's control socket: $POSTVANE_RUNTIME_DIR/control, else
// "/run/postvane/control".
std::string ServiceControlSocket();

}  // namespace pv
