// Commands run through the system's shell (/bin/sh -c on POSIX, the command
// interpreter on Windows): a mail delivery agent that takes a message on
// its standard input, and a password helper whose output is read.
// Commands are host (Shift-JIS) text; their other standard streams are the
// process's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

// One running command fed on its standard input.
class CommandInput {
 public:
  CommandInput() = default;
  ~CommandInput();  // an unfinished command is finished (its input closed, waited for)
  CommandInput(const CommandInput&) = delete;
  CommandInput& operator=(const CommandInput&) = delete;

  // Start - runs `command`. Returns false when it cannot be started.
  bool Start(std::string_view command);

  // Write - hands `n` bytes to the command's input. Returns false when the
  // command no longer reads (it ended or closed its input); the process is
  // not stopped by that (no SIGPIPE).
  bool Write(const void* data, std::size_t n);

  // Finish - closes the input and waits for the command to end.
  // Returns its exit status (0 to 255; 128 + the signal number when a
  // signal ended it), or -1 when no command runs.
  int Finish();

 private:
  std::intptr_t input_ = -1;    // write end of the pipe (POSIX) / stream (Windows)
  std::intptr_t process_ = -1;  // process id (POSIX) / unused (Windows)
};

// ReadCommandLine - runs `command` and reads the first line of its output
// (its line end dropped), at most `limit` bytes; the rest is read and
// discarded so the command can end. `status` receives the exit status as
// CommandInput::Finish gives it. Returns false when the command cannot be
// started.
bool ReadCommandLine(std::string_view command, std::size_t limit, std::string& line, int& status);

}  // namespace zel
