#include "store/raw_message.h"

#include <cstring>
#include <new>

#include "platform/file_ops.h"
#include "platform/temp_file.h"
#include "store/text_file_stream.h"

namespace zel {

std::size_t RawMessage::MemoryLines::readChunk(char* buffer, std::size_t n) {
  std::size_t done = 0;
  while (done < n && !bytes_.empty()) {
    // Copy up to the next CR at once; a CR before a LF is dropped.
    const std::size_t run = std::min(bytes_.size(), n - done);
    const void* cr = std::memchr(bytes_.data(), '\r', run);
    const std::size_t take =
        cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - bytes_.data()) : run;
    std::memcpy(buffer + done, bytes_.data(), take);
    done += take;
    bytes_.remove_prefix(take);
    if (cr == nullptr) continue;
    const bool crLf = bytes_.size() > 1 && bytes_[1] == '\n';
    buffer[done++] = crLf ? '\n' : '\r';
    bytes_.remove_prefix(crLf ? 2 : 1);
  }
  return done;
}

void RawMessage::Clear() {
  fileLines_.reset();
  file_.Close();
  if (path_[0] != '\0' && !kept_) DeleteFileAt(path_);
  path_[0] = '\0';
  kept_ = false;
  failed_ = false;
  size_ = 0;
  memory_.clear();
}

bool RawMessage::write(std::string_view bytes) {
  if (failed_) return false;
  size_ += bytes.size();
  if (!file_.IsOpen() && memory_.size() + bytes.size() > kRawInMemory && !Spill()) {
    failed_ = true;
    return false;
  }
  if (file_.IsOpen()) {
    failed_ = !file_.Write(bytes);
    return !failed_;
  }
  try {
    memory_.append(bytes);
  } catch (const std::bad_alloc&) {
    failed_ = true;
  }
  return !failed_;
}

bool RawMessage::Spill() {
  // MakeTempName makes the file new and empty: appending to it cuts
  // nothing.
  if (MakeTempName(path_) != 1 || !file_.Open(path_, TextFile::Mode::kAppendBinary)) return false;
  if (!file_.Write(memory_)) return false;
  memory_.clear();
  return true;
}

LineSource* RawMessage::Read() {
  if (path_[0] == '\0') {
    lines_.Start(memory_);
    return &lines_;
  }
  fileLines_.reset();
  if (!file_.Close() || !file_.Open(path_, TextFile::Mode::kRead)) return nullptr;
  fileLines_ = std::make_unique<TextFileSource>(file_);
  return fileLines_.get();
}

bool RawMessage::WriteMemoryToFile() {
  if (MakeTempName(path_) != 1) return false;
  if (file_.Open(path_, TextFile::Mode::kAppendBinary) && file_.Write(memory_) && file_.Close()) {
    return true;
  }
  file_.Close();
  DeleteFileAt(path_);
  path_[0] = '\0';
  return false;
}

const char* RawMessage::Keep() {
  if (!kept_) {
    fileLines_.reset();
    if (path_[0] != '\0') {
      file_.Close();
    } else {
      WriteMemoryToFile();
    }
    kept_ = true;
  }
  return path_;
}

}  // namespace zel
