#include "platform/command.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/path_charset.h"

extern char** environ;

namespace zel {
namespace {

// Starts /bin/sh -c `command` with one end of a new pipe as its standard
// input (`childReads`) or output; returns the pid and the other end in
// `ours`, or -1.
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
  // whatever the calling thread has.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, pipeSignal;
  sigemptyset(&none);
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (::posix_spawn(&pid, sh, &actions, &attributes, argv, environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(theirs);
  if (pid < 0) {
    ::close(ours);
    ours = -1;
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace

CommandInput::~CommandInput() { Finish(); }

bool CommandInput::Start(std::string_view command) {
  Finish();
  int fd = -1;
  const pid_t pid = Spawn(command, true, fd);
  if (pid < 0) return false;
  input_ = fd;
  process_ = pid;
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
  while (n > 0) {
    const ssize_t written = ::write(static_cast<int>(input_), p, n);
    if (written < 0 && errno == EINTR) continue;
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
  const int status = Wait(static_cast<pid_t>(process_));
  process_ = -1;
  return status;
}

bool ReadCommandLine(std::string_view command, std::size_t limit, std::string& line, int& status) {
  line.clear();
  int fd = -1;
  const pid_t pid = Spawn(command, false, fd);
  if (pid < 0) return false;
  bool ended = false;  // the first line is complete
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n && !ended; ++i) {
      if (buffer[i] == '\n') {
        ended = true;
      } else if (line.size() <= limit) {
        line += buffer[i];
      }
    }
  }
  ::close(fd);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  status = Wait(pid);
  return true;
}

}  // namespace zel
