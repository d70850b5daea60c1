// In-memory streams, a fixed clock and attachment files for the tests of
// the outgoing message builder.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "codec/clock.h"
#include "codec/line_stream.h"
#include "codec/message_builder.h"

namespace zel::compose_test {

// A send file held in memory, read with fgets semantics.
class StringLineSource : public LineSource {
 public:
  explicit StringLineSource(std::string text) : text_(std::move(text)) {}
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
class StringLineSink : public LineSink {
 public:
  explicit StringLineSink(std::size_t failAfter = std::string::npos) : failAfter_(failAfter) {}
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

// 2001-01-01 12:00:00 in a zone of +0900 (03:00:00 UTC).
class FixedClock : public Clock {
 public:
  static constexpr std::int64_t kNow = 978318000;
  std::int64_t now() const override { return kNow; }
  bool localTime(std::int64_t time, std::tm& fields) const override {
    const std::time_t local = static_cast<std::time_t>(time + 32400);
    const std::tm* utc = std::gmtime(&local);  // gmtime_r is not on Windows
    if (utc == nullptr) return false;
    fields = *utc;
    return true;
  }
  long utcOffset(std::int64_t) const override { return 32400; }
};

class ByteString : public ByteSource {
 public:
  ByteString(std::string data, bool failAtEnd) : data_(std::move(data)), failAtEnd_(failAtEnd) {}
  std::size_t read(void* buffer, std::size_t n) override {
    const std::size_t count = std::min(n, data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, count);
    pos_ += count;
    if (count < n && failAtEnd_) failed_ = true;
    return count;
  }
  bool failed() const override { return failed_; }

 private:
  std::string data_;
  std::size_t pos_ = 0;
  bool failAtEnd_;
  bool failed_ = false;
};

// Attachment files by path; a path not in the map cannot be opened, one
// in `unreadable` fails when read (as a folder does).
class MapOpener : public AttachmentOpener {
 public:
  std::map<std::string, std::string, std::less<>> files;
  std::map<std::string, std::string, std::less<>> unreadable;
  std::unique_ptr<ByteSource> open(std::string_view path) override {
    if (auto it = files.find(path); it != files.end())
      return std::make_unique<ByteString>(it->second, false);
    if (auto it = unreadable.find(path); it != unreadable.end())
      return std::make_unique<ByteString>(it->second, true);
    return nullptr;
  }
};

}  // namespace zel::compose_test
