// In-memory line streams for the decoder fuzz targets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "codec/line_stream.h"

namespace zel::fuzz {

// Reads `text` with fgets semantics.
class MemorySource : public LineSource {
 public:
  explicit MemorySource(std::string_view text) : text_(text) {}
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
  int peek() override { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// Keeps what is written.
class MemorySink : public LineSink {
 public:
  bool write(std::string_view text) override {
    text_.append(text);
    return true;
  }
  std::string text_;
};

}  // namespace zel::fuzz
