#include "ui/host_part_files.h"

#include "codec/buffered_lines.h"
#include "platform/file_ops.h"
#include "platform/log.h"
#include "platform/text_file.h"

namespace zel {

namespace {

class HostSource final : public BufferedLines<SeekableSource, 64 * 1024> {
 public:
  bool open(std::string_view path) { return file_.Open(path, TextFile::Mode::kReadBinary); }

  std::int64_t tell() override { return start_ + consumed(); }

  bool seek(std::int64_t offset) override {
    dropBuffer();
    if (!file_.Seek(offset)) return false;
    start_ = offset;
    return true;
  }

  std::int64_t seekEnd() override {
    dropBuffer();
    if (!file_.Seek(0, true)) return -1;
    start_ = file_.Tell();
    return start_;
  }

 private:
  std::size_t readChunk(char* buffer, std::size_t n) override { return file_.Read(buffer, n); }

  TextFile file_;
  std::int64_t start_ = 0;  // file offset of the last seek
};

// An attachment is written to a new file of ours beside the chosen path,
// which then replaces whatever entry had that name (a file, a link, a
// FIFO): nothing is written through a link or into another file's data,
// and a failed write leaves the old entry as it was.
class HostSink final : public ClosableSink {
 public:
  ~HostSink() override {
    if (temp_.empty()) return;
    file_.Close();
    DeleteFileAt(temp_);
  }
  bool open(std::string_view path) {
    target_.assign(path);
    if (!MakeTempBeside(path, temp_)) return false;
    if (file_.Open(temp_, TextFile::Mode::kWriteBinary)) return true;
    DeleteFileAt(temp_);
    temp_.clear();
    return false;
  }
  bool write(std::string_view text) override { return file_.Write(text); }
  bool close() override {
    const bool placed = file_.Close() && RenameFileReplace(temp_, target_);
    if (!placed) DeleteFileAt(temp_);
    temp_.clear();
    return placed;
  }

 private:
  TextFile file_;
  std::string target_;
  std::string temp_;  // until close()
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
