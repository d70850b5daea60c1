// In-memory streams, a fixed clock and a Python message writer for the
// tests of the incoming message decoder and the reading copy.
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

#include "codec/clock.h"
#include "codec/line_stream.h"

namespace zel::decode_test {

// Text read with fgets semantics from memory.
class MemorySource : public LineSource {
 public:
  explicit MemorySource(std::string text) : text_(std::move(text)) {}
  std::size_t readLine(char* buffer, std::size_t size) override {
    std::size_t n = 0;
    while (pos_ < text_.size() && n + 1 < size) {
      const char c = text_[pos_++];
      buffer[n++] = c;
      if (c == '\n') break;
    }
    buffer[n] = '\0';
    return n;
  }
  int peek() override {
    return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1;
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

// Collects what is written; fails every write after `failAfter` bytes.
class MemorySink : public LineSink {
 public:
  explicit MemorySink(std::size_t failAfter = std::string::npos) : failAfter_(failAfter) {}
  bool write(std::string_view text) override {
    if (text_.size() + text.size() > failAfter_) return false;
    text_.append(text);
    return true;
  }
  const std::string& text() const { return text_; }

 private:
  std::size_t failAfter_;
  std::string text_;
};

// Now is 2001-01-01 12:00:00 in a zone of +0900.
class JstClock : public Clock {
 public:
  static constexpr std::int64_t kNow = 978318000;
  std::int64_t now() const override { return kNow; }
  bool localTime(std::int64_t time, std::tm& fields) const override {
    const std::time_t local = static_cast<std::time_t>(time + 32400);
    const std::tm* utc = std::gmtime(&local);
    if (utc == nullptr) return false;
    fields = *utc;
    return true;
  }
  long utcOffset(std::int64_t) const override { return 32400; }
};

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
