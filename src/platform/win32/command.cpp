#include "platform/command.h"

#include <cstdio>
#include <string>

namespace zel {

// The command interpreter takes the host text as it is (the ANSI code page).

CommandInput::~CommandInput() { Finish(); }

bool CommandInput::Start(std::string_view command) {
  Finish();
  std::FILE* pipe = ::_popen(std::string(command).c_str(), "wb");
  if (pipe == nullptr) return false;
  input_ = reinterpret_cast<std::intptr_t>(pipe);
  return true;
}

bool CommandInput::Write(const void* data, std::size_t n) {
  if (input_ == -1) return false;
  return std::fwrite(data, 1, n, reinterpret_cast<std::FILE*>(input_)) == n;
}

int CommandInput::Finish() {
  if (input_ == -1) return -1;
  const int status = ::_pclose(reinterpret_cast<std::FILE*>(input_));
  input_ = -1;
  return status < 0 ? -1 : status & 0xFF;
}

bool ReadCommandLine(std::string_view command, std::size_t limit, std::string& line, int& status) {
  line.clear();
  std::FILE* pipe = ::_popen(std::string(command).c_str(), "rb");
  if (pipe == nullptr) return false;
  bool ended = false;
  for (int c; (c = std::fgetc(pipe)) != EOF;) {
    if (c == '\n') ended = true;
    if (!ended && line.size() <= limit) line += static_cast<char>(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const int code = ::_pclose(pipe);
  status = code < 0 ? -1 : code & 0xFF;
  return true;
}

}  // namespace zel
