#include "store/record_file.h"

namespace zel {

bool RecordFile::Open(std::string_view path, bool append) {
  append_ = append;
  locked_ = failed_ = false;
  committed_ = 0;
  return file_.Open(path, append ? TextFile::Mode::kAppend : TextFile::Mode::kWrite);
}

bool RecordFile::Write(std::string_view text) {
  if (append_ && !locked_ && !failed_) {
    // The record's first byte: the cut-back point is taken under the lock,
    // after every other writer's records.
    locked_ = file_.Lock();
    committed_ = locked_ ? file_.Size() : -1;
    if (committed_ < 0) failed_ = true;
  }
  if (failed_ || !file_.Write(text)) failed_ = true;
  return !failed_;
}

bool RecordFile::Commit() {
  if (!failed_ && file_.Flush()) {
    if (locked_) file_.Unlock();
    locked_ = false;
    if (!append_) committed_ = file_.BytesWritten();
    return true;
  }
  failed_ = true;
  // Whatever the file still buffers goes out before the cut.
  if (committed_ >= 0) {
    file_.CloseAt(committed_);
  } else {
    file_.Close();
  }
  locked_ = false;
  return false;
}

}  // namespace zel
