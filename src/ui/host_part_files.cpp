#include "ui/host_part_files.h"

#include <algorithm>
#include <cstring>

#include "platform/log.h"
#include "platform/text_file.h"

namespace zel {

namespace {

class HostSource final : public SeekableSource {
 public:
  bool open(std::string_view path) { return file_.Open(path, TextFile::Mode::kReadBinary); }

  std::size_t readLine(char* buffer, std::size_t size) override {
    if (size < 2) {
      if (size == 1) buffer[0] = '\0';
      return 0;
    }
    std::size_t count = 0;
    while (count < size - 1) {
      if (begin_ == end_ && !fill()) break;
      const std::size_t want = std::min(end_ - begin_, size - 1 - count);
      const char* from = buffer_ + begin_;
      const void* feed = std::memchr(from, '\n', want);
      const std::size_t take = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - from) + 1 : want;
      std::memcpy(buffer + count, from, take);
      begin_ += take;
      count += take;
      if (feed) break;
    }
    buffer[count] = '\0';
    return count;
  }

  int peek() override {
    if (begin_ == end_ && !fill()) return -1;
    return static_cast<unsigned char>(buffer_[begin_]);
  }

  std::int64_t tell() override { return base_ + static_cast<std::int64_t>(begin_); }

  bool seek(std::int64_t offset) override {
    begin_ = end_ = 0;
    if (!file_.Seek(offset)) return false;
    base_ = offset;
    return true;
  }

  std::int64_t seekEnd() override {
    begin_ = end_ = 0;
    if (!file_.Seek(0, true)) return -1;
    base_ = file_.Tell();
    return base_;
  }

 private:
  bool fill() {
    base_ += static_cast<std::int64_t>(end_);
    begin_ = 0;
    end_ = file_.Read(buffer_, sizeof buffer_);
    return end_ > 0;
  }

  TextFile file_;
  char buffer_[64 * 1024];  // one read of the file
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::int64_t base_ = 0;  // file offset of buffer_[0]
};

class HostSink final : public ClosableSink {
 public:
  bool open(std::string_view path) { return file_.Open(path, TextFile::Mode::kWriteBinary); }
  bool write(std::string_view text) override { return file_.Write(text); }
  bool close() override { return file_.Close(); }

 private:
  TextFile file_;
};

}  // namespace

std::unique_ptr<SeekableSource> HostPartFiles::openRead(std::string_view path) {
  auto source = std::make_unique<HostSource>();
  if (!source->open(path)) return nullptr;
  return source;
}

std::unique_ptr<ClosableSink> HostPartFiles::openWrite(std::string_view path) {
  auto sink = std::make_unique<HostSink>();
  if (!sink->open(path)) return nullptr;
  return sink;
}

void HostPartFiles::log(int line, std::string_view message) {
  LogWhere("MailFile.cpp", line);
  LogText("%.*s", static_cast<int>(message.size()), message.data());
}

}  // namespace zel
