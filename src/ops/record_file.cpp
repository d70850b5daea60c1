#include "ops/record_file.h"

#include "platform/file_ops.h"

namespace zel {

bool RecordFile::Open(std::string_view path, bool append) {
  path_.assign(path);
  if (!file_.Open(path, append ? TextFile::Mode::kAppend : TextFile::Mode::kWrite)) return false;
  committed_ = append ? FileSizeAt(path) : 0;
  if (committed_ < 0) {
    file_.Close();
    return false;
  }
  return true;
}

bool RecordFile::Commit() {
  if (file_.Flush()) {
    const std::int64_t size = FileSizeAt(path_);
    if (size >= 0) {
      committed_ = size;
      return true;
    }
  }
  file_.Close();  // whatever it still held goes out before the cut
  TruncateFileAt(path_, committed_);
  return false;
}

}  // namespace zel
