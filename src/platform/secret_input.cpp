#include "platform/secret_input.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace pv {
namespace {

// The terminal's settings for the signal handler, which may only touch such plain values.
termios savedTerminal{};
volatile sig_atomic_t terminalFd = -1;

constexpr std::array kRestoringSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreTerminalAndDie(int signal) {
  if (terminalFd >= 0) ::tcsetattr(terminalFd, TCSANOW, &savedTerminal);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Echo off for its lifetime; the signals that end the process restore the terminal first.
class EchoOff {
 public:
  explicit EchoOff(int fd) {
    if (::tcgetattr(fd, &savedTerminal) != 0) return;
    struct sigaction action {};
    action.sa_handler = RestoreTerminalAndDie;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kRestoringSignals.size(); ++i)
      ::sigaction(kRestoringSignals[i], &action, &previous_[i]);
    terminalFd = fd;
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    quiet.c_lflag |= ICANON;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  ~EchoOff() {
    if (terminalFd < 0) return;
    ::tcsetattr(terminalFd, TCSAFLUSH, &savedTerminal);
    terminalFd = -1;
    for (std::size_t i = 0; i < kRestoringSignals.size(); ++i)
      ::sigaction(kRestoringSignals[i], &previous_[i], nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  std::array<struct sigaction, kRestoringSignals.size()> previous_{};
};

void WriteText(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// One line of fd, byte by byte (nothing beyond the line is taken from a pipe); nullopt at the
// end of input before any byte.
std::optional<std::string> ReadLine(int fd) {
  std::string line;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? std::nullopt : std::optional(line);
    if (c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::optional<std::string> AskOnTerminal(std::string_view prompt, std::string& error) {
  EchoOff echoOff(STDIN_FILENO);
  WriteText(STDERR_FILENO, prompt);
  std::optional<std::string> first = ReadLine(STDIN_FILENO);
  WriteText(STDERR_FILENO, "\nAgain: ");
  const std::optional<std::string> second = first ? ReadLine(STDIN_FILENO) : std::nullopt;
  WriteText(STDERR_FILENO, "\n");
  if (!first || !second) {
    error = "no password read";
    return std::nullopt;
  }
  if (*first != *second) {
    error = "the two entries differ";
    return std::nullopt;
  }
  return first;
}

}  // namespace

std::optional<std::string> ReadSecret(std::string_view prompt, std::string& error) {
  if (::isatty(STDIN_FILENO)) return AskOnTerminal(prompt, error);
  std::optional<std::string> line = ReadLine(STDIN_FILENO);
  if (!line) error = "no password on standard input";
  return line;
}

}  // namespace pv
