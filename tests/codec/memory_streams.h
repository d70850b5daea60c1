// In-memory line streams for the codec tests: a source read with fgets
// semantics and a sink that can be made to fail.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "codec/line_stream.h"

namespace zel::test {

// Text read with fgets semantics from memory.
class MemorySource : public RewindableSource {
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
  bool rewind() override {
    pos_ = 0;
    return true;
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

// Collects what is written; fails every write after `failAfter` bytes.
class MemorySink : public RewindableSink {
 public:
  explicit MemorySink(std::size_t failAfter = std::string::npos) : failAfter_(failAfter) {}
  bool write(std::string_view text) override {
    if (text_.size() + text.size() > failAfter_) return false;
    text_.append(text);
    return true;
  }
  bool rewind() override {
    text_.clear();
    return true;
  }
  const std::string& text() const { return text_; }

 private:
  std::size_t failAfter_;
  std::string text_;
};

}  // namespace zel::test
