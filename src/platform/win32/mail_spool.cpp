#include "platform/mail_spool.h"

#include <windows.h>
#include <io.h>

#include <string>

#include "platform/path.h"
#include "platform/text_file.h"

namespace zel {

namespace {

// Makes the folder `folder` when missing (`made` then true); kOpen when it
// is then a folder reached without a reparse point.
MaildirFolders::Status OpenMailFolder(const std::string& folder, bool& made) {
  made = false;
  if (folder.empty() || folder.find('\0') != std::string::npos) return MaildirFolders::Status::kFailed;
  made = CreateDirectoryA(folder.c_str(), nullptr) != 0;  // mostly there already
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return MaildirFolders::Status::kFailed;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return MaildirFolders::Status::kRefused;
  }
  return MaildirFolders::Status::kOpen;
}

}  // namespace

// Windows has no folder descriptors: the folders are checked by path, and
// tmp/ keeps what a dead delivery left (Maildir readers there clean it).
MaildirFolders::Status MaildirFolders::Open(std::string_view path, std::string& folder,
                                            std::vector<std::string>& changed) {
  Close();
  const std::string root(path);
  for (const std::string& each : {root, JoinPath(root, "tmp"), JoinPath(root, "new"), JoinPath(root, "cur")}) {
    folder = each;
    bool made = false;
    const Status status = OpenMailFolder(each, made);
    if (made) changed.push_back(FolderPart(each));
    if (status != Status::kOpen) return status;
  }
  folder = root;
  path_ = root;
  return Status::kOpen;
}

void MaildirFolders::Close() { path_.clear(); }

std::FILE* MaildirFolders::Create(const std::string& name) {
  return path_.empty() ? nullptr : OpenHostFile(TmpPath(name), "wbx", true);
}

bool MaildirFolders::Publish(const std::string& name) {
  const std::string from = TmpPath(name), to = JoinPath(NewFolder(), name);
  return !path_.empty() && MoveFileExA(from.c_str(), to.c_str(), 0) != 0;  // fails when `to` exists
}

void MaildirFolders::Discard(const std::string& name) {
  if (!path_.empty()) DeleteFileA(TmpPath(name).c_str());
}

std::string MaildirFolders::TmpPath(const std::string& name) const {
  return JoinPath(JoinPath(path_, "tmp"), name);
}

std::string MaildirFolders::NewFolder() const { return JoinPath(path_, "new"); }

bool CutHostFile(std::FILE* file, std::int64_t size) {
  return _chsize_s(_fileno(file), size) == 0;
}

// Windows mail programs take no dot-locks: the file lock alone.
SpoolLock::Status SpoolLock::Take(std::FILE* file, std::string_view /*path*/) {
  Release();
  if (!LockHostFile(file, true)) return Status::kFailed;
  file_ = file;
  return Status::kLocked;
}

void SpoolLock::Release() {
  if (file_ != nullptr) LockHostFile(file_, false);
  file_ = nullptr;
}

}  // namespace zel
