// FileLock: an exclusive advisory lock on a host file for the length of one
// run, so that two processes never work on the same list or seen-UIDL file
// at once. The lock stays with the path when the file is replaced through
// Replace (a new file renamed over it).
//
// POSIX: flock on the file itself; Windows: LockFileEx on one byte far
// beyond the end of the file, so the lock bars no read or write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

class FileLock {
 public:
  enum class Status {
    kLocked,    // held by this object
    kBusy,      // another process (or another FileLock) holds it
    kUnusable,  // the path names no file of ours: a link, a FIFO, a
                // folder, another user's file, or a missing folder
  };

  FileLock() = default;
  ~FileLock() { Release(false); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Acquire - locks the file at `path` without waiting.
  //   The file is opened without following a link (created, empty, with
  //   the host's mode, when missing) and must be a regular file of the
  //   effective user (POSIX; Windows refuses reparse points). A file
  //   replaced or removed between the open and the lock by the run that
  //   held it is opened again, so the lock always covers what `path` names.
  // Returns the status; an object holding a lock releases it first.
  Status Acquire(std::string_view path);

  bool Held() const { return handle_ != kNone; }

  // Replace - renames the file of ours at `replacement` over the locked
  //   path, the lock going with it: the new file is locked before it takes
  //   the path, so no other run finds it unlocked.
  // Returns false (the old file still locked) when it cannot be done.
  bool Replace(std::string_view replacement);

  // Release - lets the lock go. `removeIfCreated`: a file Acquire created
  //   (and the path still names) is removed first, for a run that ended
  //   without using it.
  void Release(bool removeIfCreated);

 private:
  static constexpr std::intptr_t kNone = -1;
  std::string native_;            // the path: UTF-8 on POSIX, host text on Windows
  std::intptr_t handle_ = kNone;  // descriptor (POSIX) or HANDLE (Windows)
  bool created_ = false;
};

}  // namespace zel
