// A Python message writer and file helpers for the tests of the incoming
// message decoder and the reading copy.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>


namespace zel::decode_test {

// The bytes of a file.
inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A raw message as a POP3 client stores it, in memory (CR LF read as LF,
// as the text-mode reader does).
inline std::string AsText(std::string raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out += raw[i];
  }
  return out;
}

// Runs the UTF-8 Python program `script` with /usr/bin/python3 and the
// folder `dir` as its argument. Returns true when it exited with 0.
inline bool RunPython(const std::filesystem::path& dir, std::string_view script) {
  const auto file = dir / "writer.py";
  std::ofstream(file, std::ios::binary) << script;
  const std::string command = "/usr/bin/python3 '" + file.string() + "' '" + dir.string() + "'";
  return std::system(command.c_str()) == 0;
}

// A fresh folder under the system temporary folder.
inline std::filesystem::path FreshFolder(std::string_view name) {
  std::random_device random;
  auto dir = std::filesystem::temp_directory_path() /
             (std::string(name) + "-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// UTF-8 text of a u8 literal, for Python programs.
inline std::string Utf8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

}  // namespace zel::decode_test
