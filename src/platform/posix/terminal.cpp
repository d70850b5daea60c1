#include "platform/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace zel {
namespace {

// The terminal mode to restore, and whether the echo is off right now; read
// by the signal handler.
termios savedMode;
volatile sig_atomic_t echoOff = 0;

// Signals that end the process while it waits for the line.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Turns the echo on again, then lets the signal end the process as it would
// have without this handler.
void RestoreAndRaise(int signal) {
  if (echoOff != 0) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedMode);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void WriteAll(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

int TerminalColumns() {
  winsize size = {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool ReadSecretLine(std::string_view prompt, std::size_t limit, std::string& line) {
  line.clear();
  termios mode;
  if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &mode) != 0) return false;
  savedMode = mode;
  struct sigaction handler = {};
  handler.sa_handler = RestoreAndRaise;
  sigemptyset(&handler.sa_mask);
  struct sigaction previous[std::size(kEndingSignals)];
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    ::sigaction(kEndingSignals[i], &handler, &previous[i]);
  }
  // Typed-ahead input is dropped with the mode change: it was shown.
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  echoOff = 1;
  const bool silent = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
  bool got = false;
  if (silent) {
    WriteAll(prompt);
    char c;
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got = true;
      if (c == '\n') break;
      if (line.size() < limit) line += c;
    }
    // The Enter key was not shown either.
    WriteAll("\n");
  }
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedMode);
  echoOff = 0;
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    ::sigaction(kEndingSignals[i], &previous[i], nullptr);
  }
  return got;
}

}  // namespace zel
