#include "platform/interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace zel {
namespace {

// The handler writes one byte into this pipe (the signal's number), the
// only thing it may safely do; the waiting thread reads it. A wake is the
// byte 0, which no signal has.
int interruptPipe[2] = {-1, -1};
constexpr char kWake = 0;

void Record(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t n = ::write(interruptPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

bool CatchInterrupt() {
  if (interruptPipe[0] < 0 && ::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction handler = {};
  handler.sa_handler = Record;
  // A second signal takes the default action again: it ends the process.
  handler.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&handler.sa_mask);
  bool installed = true;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    installed = ::sigaction(signal, &handler, nullptr) == 0 && installed;
  }
  return installed;
}

bool WaitInterrupt(int timeoutMs) {
  if (interruptPipe[0] < 0) return false;
  pollfd ready = {interruptPipe[0], POLLIN, 0};
  int n;
  do {
    n = ::poll(&ready, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  char byte = kWake;
  return n > 0 && ::read(interruptPipe[0], &byte, 1) == 1 && byte != kWake;
}

void WakeInterruptWait() {
  if (interruptPipe[1] < 0) return;
  [[maybe_unused]] const ssize_t n = ::write(interruptPipe[1], &kWake, 1);
}

}  // namespace zel
