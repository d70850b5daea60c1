// Log lines, source lines and byte helpers for the API tests; scratch
// directories and file bytes come from the platform tests.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/scratch_dir.h"

namespace zel::test {

// The lines of a log file, each without its CR LF (which must be there).
inline std::vector<std::string> LogLines(const std::string& path) {
  const std::string text = ReadBytes(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << text.substr(start);
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Line number of the first line of a project source file containing `needle`
// (ASCII: the sources are UTF-8, test literals Shift-JIS).
inline int SourceLine(const std::string& relative, const std::string& needle) {
  std::ifstream in(std::string(ZEL_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (line.find(needle) != std::string::npos) return n;
  }
  return -1;
}

// Byte string from hex digits, for exact Shift-JIS expectations.
inline std::string Hex(const char* hex) {
  std::string out;
  for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
    out += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
  }
  return out;
}

// True when `text` does not end inside a double-byte character.
inline bool EndsOnCharacterBoundary(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    i += ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
  }
  return i == text.size();
}

}  // namespace zel::test
