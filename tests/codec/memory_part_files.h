// In-memory files for the part walker: named byte strings, read seekable,
// written on close, and the log entries it makes.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "codec/part_files.h"

namespace zel::test {

class MemoryPartFiles final : public PartFiles {
 public:
  std::map<std::string, std::string> files;               // path -> bytes
  std::vector<std::pair<int, std::string>> logEntries;     // line, message
  std::size_t failWritesAfter = std::string::npos;         // bytes a sink accepts

  std::unique_ptr<SeekableSource> openRead(std::string_view path) override {
    const auto it = files.find(std::string(path));
    if (it == files.end()) return nullptr;
    return std::make_unique<Source>(it->second);
  }
  std::unique_ptr<ClosableSink> openWrite(std::string_view path) override {
    if (path.empty() || path.find('?') != std::string_view::npos) return nullptr;  // "unwritable"
    return std::make_unique<Sink>(files[std::string(path)], failWritesAfter);
  }
  void log(int line, std::string_view message) override { logEntries.emplace_back(line, std::string(message)); }

 private:
  class Source final : public SeekableSource {
   public:
    explicit Source(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t readLine(char* buffer, std::size_t size) override {
      std::size_t n = 0;
      while (pos_ < bytes_.size() && n + 1 < size) {
        const char c = bytes_[pos_++];
        buffer[n++] = c;
        if (c == '\n') break;
      }
      buffer[n] = '\0';
      return n;
    }
    int peek() override { return pos_ < bytes_.size() ? static_cast<unsigned char>(bytes_[pos_]) : -1; }
    std::int64_t tell() override { return static_cast<std::int64_t>(pos_); }
    bool seek(std::int64_t offset) override {
      if (offset < 0 || static_cast<std::size_t>(offset) > bytes_.size()) return false;
      pos_ = static_cast<std::size_t>(offset);
      return true;
    }
    std::int64_t seekEnd() override {
      pos_ = bytes_.size();
      return tell();
    }

   private:
    std::string bytes_;
    std::size_t pos_ = 0;
  };

  class Sink final : public ClosableSink {
   public:
    Sink(std::string& target, std::size_t limit) : target_(target), limit_(limit) { target_.clear(); }
    bool write(std::string_view text) override {
      if (target_.size() + text.size() > limit_) return ok_ = false;
      target_.append(text);
      return true;
    }
    bool close() override { return ok_; }

   private:
    std::string& target_;
    std::size_t limit_;
    bool ok_ = true;
  };
};

}  // namespace zel::test
