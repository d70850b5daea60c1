#include "platform/terminal.h"

#include <windows.h>

namespace zel {
namespace {

// The console input mode to restore, read by the control handler.
HANDLE consoleInput = nullptr;
DWORD savedMode = 0;

// Ctrl-C, Ctrl-Break or closing the console: the echo comes back before the
// default handler ends the process.
BOOL WINAPI RestoreEcho(DWORD) {
  SetConsoleMode(consoleInput, savedMode);
  return FALSE;
}

void WriteAll(std::string_view text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
            &written, nullptr);
}

}  // namespace

bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool StdoutIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool ReadSecretLine(std::string_view prompt, std::size_t limit, std::string& line) {
  line.clear();
  consoleInput = GetStdHandle(STD_INPUT_HANDLE);
  if (GetConsoleMode(consoleInput, &savedMode) == 0) return false;
  SetConsoleCtrlHandler(RestoreEcho, TRUE);
  bool got = false;
  if (SetConsoleMode(consoleInput, (savedMode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT) != 0) {
    WriteAll(prompt);
    char c;
    DWORD n = 0;
    // Console input in the console's code page (932 on a Japanese system).
    while (ReadConsoleA(consoleInput, &c, 1, &n, nullptr) != 0 && n == 1) {
      got = true;
      if (c == '\n') break;
      if (c != '\r' && line.size() < limit) line += c;
    }
    WriteAll("\r\n");
  }
  SetConsoleMode(consoleInput, savedMode);
  SetConsoleCtrlHandler(RestoreEcho, FALSE);
  return got;
}

}  // namespace zel
