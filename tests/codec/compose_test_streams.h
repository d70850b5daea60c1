// Attachment files held in memory for the tests of the outgoing message
// builder.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "codec/message_builder.h"

namespace zel::compose_test {

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
