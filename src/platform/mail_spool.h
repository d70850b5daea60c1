// The files of the mail stores other mail programs read: a Maildir (files
// made in tmp/, flushed, then moved into new/) and an mbox file (appended
// to under the locks mail readers honour).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace zel {

// MakeMailFolder - creates the folder `path` (host text; mode 0700 on
// POSIX) when it is missing; its parent must exist. True when `path` is
// then a folder (POSIX: one of the effective user).
bool MakeMailFolder(std::string_view path);

// RenameFileNew - moves the file `from` to `to` on the same volume when
// no entry `to` exists; an existing one is never replaced. True when done.
bool RenameFileNew(std::string_view from, std::string_view to);

// SyncHostFile - hands the stream's buffered writes to the OS and flushes
// the file's data to stable storage. False when either fails.
bool SyncHostFile(std::FILE* file);

// CutHostFile - cuts the open file back to `size` bytes (what a failed
// append left). False when that fails.
bool CutHostFile(std::FILE* file, std::int64_t size);

// SpoolLock: the locks of an mbox file while one message is appended.
// POSIX: a dot-lock "<path>.lock" (created exclusively; one left by a
// process that died is taken over after kStaleDotLockSeconds; skipped when
// the folder cannot be written, as other mail programs do) and an fcntl
// write lock on the whole open file. Windows: LockFileEx on the file.
// Another holder is waited for a bounded time.
class SpoolLock {
 public:
  enum class Status {
    kLocked,
    kReplaced,  // the path names another file now: open it again and retry
    kFailed,    // held by another too long, or the locks cannot be taken
  };

  SpoolLock() = default;
  ~SpoolLock() { Release(); }
  SpoolLock(const SpoolLock&) = delete;
  SpoolLock& operator=(const SpoolLock&) = delete;

  // Take - locks `file`, opened at the host path `path`. The caller keeps
  // the file open until Release.
  Status Take(std::FILE* file, std::string_view path);

  // Release - lets both locks go (the caller has flushed its writes).
  void Release();

 private:
  std::FILE* file_ = nullptr;
  std::string dotLock_;  // native path of the dot-lock this object made
};

}  // namespace zel
