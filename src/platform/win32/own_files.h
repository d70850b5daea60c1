// The Win32 backend's rules for files in folders that strangers may write
// (internal to the backend): a file is written only when its path reaches
// it without a reparse point (a symbolic link or junction) and it is a file
// on disk, and nothing waits on a lock for ever.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zel {

// How long a lock held by another process is waited for: another run's
// mailbox entry or index update takes well under this; a lock held longer
// is a stranger's, and the operation fails instead of hanging.
inline constexpr DWORD kLockWaitMilliseconds = 30000;

// The UTF-16 spelling of a host (Shift-JIS) path; false when it holds a NUL
// or an invalid byte sequence.
bool WidePath(std::string_view path, std::wstring& out);

// CreateFileW of `path` with `access` and `disposition`, every sharing
// mode, FILE_FLAG_OPEN_REPARSE_POINT, refusing a reparse point, a folder
// and anything not on disk (a pipe, a device). `created` (optional) tells
// whether the call made the file. INVALID_HANDLE_VALUE on failure.
HANDLE OpenOwnHandle(const std::wstring& path, DWORD access, DWORD disposition,
                     bool* created = nullptr);

// Locks one byte far beyond any real end of file (LockFileEx is mandatory
// on the range it covers): at once or not at all when `wait` is false,
// else waiting at most kLockWaitMilliseconds. `lock` false releases it.
bool LockHandle(HANDLE file, bool lock, bool wait);

}  // namespace zel
