#include "ops/record_file.h"

#include "platform/file_ops.h"

namespace zel {

bool RecordFile::Open(std::string_view path, bool append) {
  path_.assign(path);
  if (!file_.Open(path, append ? TextFile::Mode::kAppend : TextFile::Mode::kWrite)) return false;
  start_ = append ? FileSizeAt(path) : 0;
  committed_ = start_;
  if (start_ < 0) {
    file_.Close();
    return false;
  }
  return true;
}

bool RecordFile::Commit() {
  if (file_.Flush()) {
    committed_ = start_ + file_.BytesWritten();
    return true;
  }
  file_.Close();  // whatever it still held goes out before the cut
  TruncateFileAt(path_, committed_);
  return false;
}

}  // namespace zel
