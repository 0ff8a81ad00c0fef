#pragma once
// The built `postvane` binary as a child process of a test: started with a controlled
// environment (only the variables the test gives, plus PATH), its systemd notifications and
// its syslog entries caught on datagram sockets of its own, its output kept in a file. Every
// wait is bounded, and the destructor kills and reaps the child, so no spooler outlives a test.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rig_env.h"
#include "support/unique_fd.h"

#ifndef POSTVANE_BINARY
#error "POSTVANE_BINARY must name the built postvane executable"
#endif

namespace pv::test {

using Environment = std::map<std::string, std::string>;

// Polls `done` every 20 ms until it holds or `timeout` has passed; its last answer.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// A datagram socket bound at a path (unlinked again when it goes); keeps what it received.
class DatagramInbox {
 public:
  explicit DatagramInbox(std::string path) : path_(std::move(path)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    ::unlink(path_.c_str());
    fd_ = UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd_.ok() &&
        ::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      fd_.Close();
    }
  }
  ~DatagramInbox() { ::unlink(path_.c_str()); }
  DatagramInbox(const DatagramInbox&) = delete;
  DatagramInbox& operator=(const DatagramInbox&) = delete;

  bool ok() const { return fd_.ok(); }
  const std::string& path() const { return path_; }
  // The smallest receive buffer the system allows: a sender that is not read soon fills it.
  void ShrinkReceiveBuffer() {
    const int tiny = 1;
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
  }

  // Every datagram received so far, oldest first.
  const std::vector<std::string>& Messages() {
    std::string buffer(256 * 1024, '\0');
    for (;;) {
      const ssize_t n = ::recv(fd_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n < 0) break;
      messages_.emplace_back(buffer.data(), static_cast<std::size_t>(n));
    }
    return messages_;
  }

  std::size_t CountContaining(const std::string& text) {
    std::size_t count = 0;
    for (const std::string& message : Messages()) count += message.find(text) != std::string::npos;
    return count;
  }

  bool WaitFor(const std::string& text,
               std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return WaitUntil([&] { return CountContaining(text) > 0; }, timeout);
  }

 private:
  std::string path_;
  UniqueFd fd_;
  std::vector<std::string> messages_;
};

// Starts argv (argv[0] an absolute path) with exactly env plus PATH, stdin from inputPath,
// stdout and stderr appended to outputPath. The child's pid, or -1.
inline pid_t SpawnProgram(std::vector<std::string> argStrings, const Environment& env,
                          const std::string& outputPath,
                          const std::string& inputPath = "/dev/null") {
  std::vector<std::string> envStrings;
  const char* path = std::getenv("PATH");
  envStrings.push_back(std::string("PATH=") + (path ? path : "/usr/bin:/bin"));
  for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (std::string& s : argStrings) argv.push_back(s.data());
  for (std::string& s : envStrings) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// `[launcher...] POSTVANE_BINARY args` as SpawnProgram starts it. A launcher is an absolute
// path with its arguments (setpriv, say); the output file is opened before it runs.
inline pid_t SpawnPostvane(const std::vector<std::string>& args, const Environment& env,
                           const std::string& outputPath,
                           const std::vector<std::string>& launcher = {},
                           const std::string& inputPath = "/dev/null") {
  std::vector<std::string> argStrings = launcher;
  argStrings.push_back(POSTVANE_BINARY);
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  return SpawnProgram(std::move(argStrings), env, outputPath, inputPath);
}

// The exit code of a ThreadSanitizer build's program that found a data race or a lock-order
// inversion (cmake/tsan/default_options.cpp): it ends at once, the report is in its output.
inline constexpr int kSanitizerExitCode = 86;

inline int ExitCodeOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A child that ended with a sanitizer report fails the test that started it.
inline void ExpectNoSanitizerReport(std::optional<int> code, const std::string& outputPath) {
  EXPECT_NE(code, std::optional<int>(kSanitizerExitCode))
      << "the program ended with a sanitizer report:\n" << ReadWholeFile(outputPath);
}

// Waits for pid to end, at most timeout: its exit code (128 + signal when a signal ended it),
// or nothing while it still runs.
inline std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds timeout) {
  std::optional<int> code;
  WaitUntil(
      [&] {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != pid) return false;
        code = ExitCodeOf(status);
        return true;
      },
      timeout);
  return code;
}

struct CommandResult {
  int exitCode = -1;  // -1: did not start or did not end in time (then it was killed)
  std::string output;
};

// Runs postvane to its end (a client command such as --status), at most timeout; standard
// input is the file inputPath.
inline CommandResult RunPostvane(const std::vector<std::string>& args, const Environment& env,
                                 const std::string& scratchDir,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(10),
                                 const std::string& inputPath = "/dev/null") {
  const std::string outputPath = scratchDir + "/command.out";
  ::unlink(outputPath.c_str());
  CommandResult result;
  const pid_t pid = SpawnPostvane(args, env, outputPath, {}, inputPath);
  if (pid < 0) return result;
  if (const auto code = WaitForExit(pid, timeout)) {
    result.exitCode = *code;
    ExpectNoSanitizerReport(code, outputPath);
  } else {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  result.output = ReadWholeFile(outputPath);
  return result;
}

// `postvane service=1` with NOTIFY_SOCKET and POSTVANE_SYSLOG_SOCKET bound in workDir. It can
// be started again after it ended; the inboxes keep what every run sent.
class SpoolerProcess {
 public:
  explicit SpoolerProcess(const std::string& workDir)
      : workDir_(workDir), notify_(workDir + "/notify.sock"), syslog_(workDir + "/syslog.sock") {}
  ~SpoolerProcess() { Kill(); }
  SpoolerProcess(const SpoolerProcess&) = delete;
  SpoolerProcess& operator=(const SpoolerProcess&) = delete;

  // extraArgs follow "service=1" ("debug=1", say).
  bool Start(const Environment& env, const std::vector<std::string>& extraArgs = {}) {
    if (running() || !notify_.ok() || !syslog_.ok()) return false;
    Environment full = env;
    full["NOTIFY_SOCKET"] = notify_.path();
    full["POSTVANE_SYSLOG_SOCKET"] = syslog_.path();
    std::vector<std::string> args{"service=1"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    pid_ = SpawnPostvane(args, full, OutputPath(), launcher_);
    return pid_ > 0;
  }

  // The program runs under this launcher from the next Start on.
  void SetLauncher(std::vector<std::string> launcher) { launcher_ = std::move(launcher); }

  bool running() const { return pid_ > 0; }
  bool Signal(int signal) const { return running() && ::kill(pid_, signal) == 0; }

  // The exit code once the process has ended within timeout; nothing while it still runs.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    if (!running()) return std::nullopt;
    const std::optional<int> code = WaitForExit(pid_, timeout);
    if (code) pid_ = -1;
    ExpectNoSanitizerReport(code, OutputPath());
    return code;
  }

  // SIGKILL, then reaps it; a run that had already ended with a sanitizer report fails.
  void Kill() {
    if (!running()) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      ExpectNoSanitizerReport(ExitCodeOf(status), OutputPath());
    } else {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  DatagramInbox& notifications() { return notify_; }
  DatagramInbox& syslog() { return syslog_; }
  // stdout and stderr of every run.
  std::string Output() const { return ReadWholeFile(OutputPath()); }

 private:
  std::string OutputPath() const { return workDir_ + "/spooler.out"; }

  std::string workDir_;
  DatagramInbox notify_;
  DatagramInbox syslog_;
  std::vector<std::string> launcher_;
  pid_t pid_ = -1;
};

}  // namespace pv::test
