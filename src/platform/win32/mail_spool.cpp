#include "platform/mail_spool.h"

#include <windows.h>
#include <io.h>

#include <string>

#include "platform/text_file.h"

namespace zel {

bool MakeMailFolder(std::string_view path) {
  const std::string folder(path);
  if (folder.empty() || folder.find('\0') != std::string::npos) return false;
  CreateDirectoryA(folder.c_str(), nullptr);  // mostly there already
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RenameFileNew(std::string_view from, std::string_view to) {
  const std::string a(from), b(to);
  return MoveFileExA(a.c_str(), b.c_str(), 0) != 0;  // fails when `to` exists
}

bool SyncHostFile(std::FILE* file) {
  return std::fflush(file) == 0 &&
         FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
}

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
