#include "platform/win32/own_files.h"

#include <algorithm>

namespace zel {
namespace {

// The byte LockHandle locks: no file grows this far.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0;

}  // namespace

bool WidePath(std::string_view path, std::wstring& out) {
  out.clear();
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  // Shift-JIS to UTF-16 here, so the C library's own locale plays no part.
  const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), out.data(), n);
  return true;
}

HANDLE OpenOwnHandle(const std::wstring& path, DWORD access, DWORD disposition, bool* created) {
  const HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  const bool made = GetLastError() != ERROR_ALREADY_EXISTS &&
                    (disposition == CREATE_NEW || disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS);
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || GetFileInformationByHandle(h, &info) == 0 ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(h);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (created != nullptr) *created = made;
  return h;
}

bool LockHandle(HANDLE file, bool lock, bool wait) {
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  if (!lock) return UnlockFileEx(file, 0, 1, 0, &at) != 0;
  DWORD pause = 1;
  for (DWORD waited = 0;;) {
    at = OVERLAPPED{};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0) return true;
    if (!wait || waited >= kLockWaitMilliseconds) return false;
    Sleep(pause);
    waited += pause;
    pause = std::min<DWORD>(pause * 2, 50);
  }
}

}  // namespace zel
