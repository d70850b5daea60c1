#include "platform/file_lock.h"

#include <windows.h>

#include "platform/win32/own_files.h"

namespace zel {
namespace {

// Opens of a file that was replaced or removed under us, before giving up:
// each one means another run let the lock go, which happens once a run.
constexpr int kAcquireAttempts = 8;

HANDLE Handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// True when `held` is the file `path` names now.
bool Names(HANDLE held, const std::wstring& path) {
  const HANDLE named = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a, b;
  const bool same = GetFileInformationByHandle(held, &a) != 0 && GetFileInformationByHandle(named, &b) != 0 &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                    a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

}  // namespace

FileLock::Status FileLock::Acquire(std::string_view path) {
  Release(false);
  std::wstring wide;
  if (!WidePath(path, wide)) return Status::kUnusable;
  native_.assign(path);
  for (int attempt = 0; attempt < kAcquireAttempts; ++attempt) {
    bool created = false;
    const HANDLE h = OpenOwnHandle(wide, GENERIC_READ, OPEN_ALWAYS, &created);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND) continue;  // removed meanwhile
      return Status::kUnusable;
    }
    if (!LockHandle(h, true, false)) {
      CloseHandle(h);
      return Status::kBusy;
    }
    if (Names(h, wide)) {
      handle_ = reinterpret_cast<std::intptr_t>(h);
      created_ = created;
      return Status::kLocked;
    }
    CloseHandle(h);  // replaced or removed by the run that held it
  }
  return Status::kBusy;
}

bool FileLock::Replace(std::string_view replacement) {
  std::wstring source, target;
  if (handle_ == kNone || !WidePath(replacement, source) || !WidePath(native_, target)) return false;
  const HANDLE h = OpenOwnHandle(source, GENERIC_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (!LockHandle(h, true, false)) {
    CloseHandle(h);
    return false;
  }
  // A file open here cannot be replaced on Windows: the old one is let go
  // first, the new one already locked.
  CloseHandle(Handle(handle_));
  handle_ = reinterpret_cast<std::intptr_t>(h);
  created_ = false;
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void FileLock::Release(bool removeIfCreated) {
  if (handle_ == kNone) return;
  const HANDLE h = Handle(handle_);
  std::wstring wide;
  const bool remove = removeIfCreated && created_ && WidePath(native_, wide) && Names(h, wide);
  CloseHandle(h);
  if (remove) DeleteFileW(wide.c_str());
  handle_ = kNone;
  created_ = false;
}

}  // namespace zel
