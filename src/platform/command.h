// Commands run through the system's shell (/bin/sh -c on POSIX, the command
// interpreter on Windows): a mail delivery agent that takes a message on
// its standard input, and a password helper whose output is read.
// Commands are host (Shift-JIS) text; their other standard streams are the
// process's own.
//
// Every command has a deadline counted from its start: a command that has
// not ended by then is ended, together with every process it started (its
// process group on POSIX, its job object on Windows), so that a command
// that hangs, or leaves a child holding its pipe, never holds the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

// The status Finish and ReadCommandLine give for a command ended at its
// deadline (an exit status is 0 to 255).
inline constexpr int kCommandTimedOut = -2;

// One running command fed on its standard input.
class CommandInput {
 public:
  CommandInput() = default;
  ~CommandInput();  // an unfinished command is finished (its input closed, waited for)
  CommandInput(const CommandInput&) = delete;
  CommandInput& operator=(const CommandInput&) = delete;

  // Start - runs `command` with a deadline `seconds` from now (0 or less:
  // none). Returns false when it cannot be started.
  bool Start(std::string_view command, int seconds);

  // Write - hands `n` bytes to the command's input, waiting for room at
  // most until the deadline. Returns false when the command no longer
  // reads (it ended or closed its input) or the deadline passed; the
  // process is not stopped by that (no SIGPIPE).
  bool Write(const void* data, std::size_t n);

  // Finish - closes the input and waits for the command to end, at most
  // until the deadline; then the command and everything it started are
  // ended. Returns its exit status (0 to 255; 128 + the signal number when
  // a signal ended it), kCommandTimedOut past the deadline, or -1 when no
  // command runs.
  int Finish();

 private:
  std::intptr_t input_ = -1;    // write end of the pipe
  std::intptr_t process_ = -1;  // process id (POSIX) / process handle (Windows)
  std::intptr_t job_ = -1;      // unused (POSIX) / job object (Windows)
  std::intptr_t watcher_ = -1;  // unused (POSIX) / the thread that ends a late command (Windows)
  std::int64_t deadline_ = -1;  // monotonic milliseconds; -1 none
};

// ReadCommandLine - runs `command` and takes the first line of its output
// (its line end dropped), at most `limit` bytes (a longer line comes back
// longer than `limit`, to be refused by the caller, never cut to fit);
// reading stops there. The command then has until the deadline, `seconds`
// from its start (0 or less: none), to end. `status` receives the exit
// status as CommandInput::Finish gives it; a command ended by SIGPIPE
// because its further output went unread counts as 0. Returns false when
// the command cannot be started.
bool ReadCommandLine(std::string_view command, std::size_t limit, int seconds, std::string& line,
                     int& status);

}  // namespace zel
