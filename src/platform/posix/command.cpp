#include "platform/command.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/path_charset.h"

extern char** environ;

namespace zel {
namespace {

// Longest pause between two looks at a command that has not ended yet.
constexpr long kWaitStepMilliseconds = 20;

// Milliseconds of the monotonic clock.
std::int64_t Now() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

std::int64_t DeadlineAfter(int seconds) { return seconds > 0 ? Now() + std::int64_t{seconds} * 1000 : -1; }

// Milliseconds left until `deadline` for poll: -1 for none, 0 when passed.
int TimeLeft(std::int64_t deadline) {
  if (deadline < 0) return -1;
  const std::int64_t left = deadline - Now();
  return left > 0 ? static_cast<int>(std::min<std::int64_t>(left, INT_MAX)) : 0;
}

// Starts /bin/sh -c `command` in a process group of its own, with one end
// of a new pipe as its standard input (`childReads`) or output; returns
// the pid and the other end (non-blocking) in `ours`, or -1.
pid_t Spawn(std::string_view command, bool childReads, int& ours) {
  std::string native;
  int ends[2];
  if (!NativePath(command, native) || ::pipe2(ends, O_CLOEXEC) != 0) return -1;
  const int theirs = childReads ? ends[0] : ends[1];
  ours = childReads ? ends[1] : ends[0];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the copy only.
  posix_spawn_file_actions_adddup2(&actions, theirs, childReads ? 0 : 1);
  char sh[] = "/bin/sh";
  char flag[] = "-c";
  char* argv[] = {sh, flag, native.data(), nullptr};
  // The command starts with no signal blocked and SIGPIPE at its default,
  // whatever the calling thread has, as the leader of a new process group:
  // at its deadline the whole group is ended.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, pipeSignal;
  sigemptyset(&none);
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  if (::posix_spawn(&pid, sh, &actions, &attributes, argv, environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(theirs);
  if (pid < 0) {
    ::close(ours);
    ours = -1;
    return -1;
  }
  ::fcntl(ours, F_SETFL, ::fcntl(ours, F_GETFL) | O_NONBLOCK);
  return pid;
}

int StatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Waits for `pid` until `deadline`; past it, ends its process group and
// gives kCommandTimedOut.
int Wait(pid_t pid, std::int64_t deadline) {
  long pause = 1;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, deadline < 0 ? 0 : WNOHANG);
    if (done == pid) return StatusOf(status);
    if (done < 0 && errno != EINTR) return -1;
    if (done == 0) {
      if (TimeLeft(deadline) == 0) break;
      const timespec delay{0, std::min<long>(pause, TimeLeft(deadline)) * 1000000L};
      ::nanosleep(&delay, nullptr);
      pause = std::min(pause * 2, kWaitStepMilliseconds);
    }
  }
  ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return kCommandTimedOut;
}

// Waits until `fd` is ready for `events` or `deadline` passes.
bool Ready(int fd, short events, std::int64_t deadline) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int r = ::poll(&entry, 1, TimeLeft(deadline));
    if (r > 0) return true;
    if (r == 0 || errno != EINTR) return false;
  }
}

}  // namespace

CommandInput::~CommandInput() { Finish(); }

bool CommandInput::Start(std::string_view command, int seconds) {
  Finish();
  int fd = -1;
  const pid_t pid = Spawn(command, true, fd);
  if (pid < 0) return false;
  input_ = fd;
  process_ = pid;
  deadline_ = DeadlineAfter(seconds);
  return true;
}

bool CommandInput::Write(const void* data, std::size_t n) {
  if (input_ < 0) return false;
  // A command that stopped reading raises SIGPIPE for this thread: it is
  // blocked while writing, and one that became pending is taken away.
  sigset_t pipeSignal, old;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
  sigset_t pending;
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  const char* p = static_cast<const char*>(data);
  bool ok = true;
  const int fd = static_cast<int>(input_);
  while (n > 0) {
    const ssize_t written = ::write(fd, p, n);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN && Ready(fd, POLLOUT, deadline_)) continue;
    if (written <= 0) {
      ok = false;
      break;
    }
    p += written;
    n -= static_cast<std::size_t>(written);
  }
  if (!ok && errno == EPIPE && !wasPending) {
    const timespec now{0, 0};
    while (::sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return ok;
}

int CommandInput::Finish() {
  if (input_ >= 0) ::close(static_cast<int>(input_));
  input_ = -1;
  if (process_ < 0) return -1;
  const int status = Wait(static_cast<pid_t>(process_), deadline_);
  process_ = -1;
  return status;
}

bool ReadCommandLine(std::string_view command, std::size_t limit, int seconds, std::string& line,
                     int& status) {
  line.clear();
  int fd = -1;
  const pid_t pid = Spawn(command, false, fd);
  if (pid < 0) return false;
  const std::int64_t deadline = DeadlineAfter(seconds);
  bool ended = false;  // the first line is complete
  char buffer[4096];
  while (!ended && line.size() <= limit) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && Ready(fd, POLLIN, deadline)) continue;
    if (n <= 0) break;
    const char* lf = static_cast<const char*>(std::memchr(buffer, '\n', static_cast<std::size_t>(n)));
    ended = lf != nullptr;
    line.append(buffer, ended ? static_cast<std::size_t>(lf - buffer) : static_cast<std::size_t>(n));
  }
  // What follows the first line is not read: a command that goes on
  // writing meets a closed pipe.
  ::close(fd);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  status = Wait(pid, deadline);
  if (ended && status == 128 + SIGPIPE) status = 0;
  return true;
}

}  // namespace zel
