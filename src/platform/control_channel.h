#pragma once
// The control channel of a running spooler: a local socket "control" in the runtime directory
// that takes one request line and gives one answer line. Requests: "SPOOLNOW" (an immediate
// run), "PAUSE", "CONTINUE" (only from the spooler's own user or root), "STATUS", "SPOOLDIR"
// (the spool directory and extension that clients write into, "<directory>\t<extension>"), and
// the queue requests (shell/queue_channel.h), whose answer line may be long: a whole listing.
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class QLocalServer;

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

 private:
  std::string runtimeDirectory_;
  Handler handler_;
  std::unique_ptr<QLocalServer> server_;
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
