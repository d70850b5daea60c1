// The terminal of a console program: reading a secret (a password) without
// showing it, and the width of the terminal that shows its output.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zel {

// True when standard input is a terminal (a console on Windows).
bool StdinIsTerminal();

// True when standard output is a terminal (a console on Windows).
bool StdoutIsTerminal();

// Columns of the terminal of standard output as it is now (it may be
// resized at any time), or 0 when standard output is no terminal or its
// size is unknown.
int TerminalColumns();

// ReadSecretLine - reads one line typed on the terminal of standard input
// with the echo turned off.
// Input: `prompt`, written to standard error as it is (console text) once
// the echo is off; `limit`, the most bytes kept.
// Output: `line`, the line without its line end, at most `limit` bytes
// (the rest of a longer line is read and dropped).
// Returns false when standard input is no terminal or nothing could be read
// (end of input at once, an error); `line` is then empty. The echo is
// turned on again on every path, also when an interrupt (Ctrl-C) or a
// termination signal ends the process while it waits.
bool ReadSecretLine(std::string_view prompt, std::size_t limit, std::string& line);

}  // namespace zel
