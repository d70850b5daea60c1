#include "store/flush_batch.h"

#include <algorithm>

#include "platform/file_ops.h"
#include "platform/path.h"

namespace zel {

void FlushBatch::AddFile(const std::string& path, bool created) {
  files_.push_back(path);
  if (created) folders_.push_back(FolderPart(path));
}

bool FlushBatch::Flush(bool sync, const std::string& also) {
  std::vector<std::string> files;
  files.swap(files_);
  std::vector<std::string> folders;
  folders.swap(folders_);
  std::vector<std::string> names;
  names.swap(maildirNames_);
  messages_ = 0;
  bytes_ = 0;
  // A file appended to for every message is flushed once.
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  for (const std::string& name : names) files.push_back(maildir_.TmpPath(name));
  if (!also.empty()) files.push_back(also);
  bool ok = true;
  if (!names.empty()) {
    // The Maildir files are whole on the disk before new/ names them.
    ok = !sync || SyncFiles(files, {});
    files.clear();
    std::size_t moved = 0;
    while (ok && moved < names.size() && maildir_.Publish(names[moved])) ++moved;
    ok = ok && moved == names.size();
    for (std::size_t i = moved; i < names.size(); ++i) maildir_.Discard(names[i]);
    folders.push_back(maildir_.NewFolder());
  }
  return ok && (!sync || SyncFiles(files, folders));
}

}  // namespace zel
