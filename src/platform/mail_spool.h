// The files of the mail stores other mail programs read: a Maildir (files
// made in tmp/, flushed, then moved into new/) and an mbox file (appended
// to under the locks mail readers honour).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

// Seconds after which a file left in a Maildir's tmp/ is removed: readers
// of the format take one that old for the remains of a delivery that died.
inline constexpr std::int64_t kMaildirStaleSeconds = 36 * 60 * 60;

// MaildirFolders: a Maildir opened for delivery. The Maildir and its tmp/,
// new/ and cur/ are used only when each is a real folder of the effective
// user: no link is followed, and (POSIX) every file is made, moved and
// removed relative to the open folders, so that a folder swapped for a link
// afterwards changes nothing. Windows refuses reparse points.
class MaildirFolders {
 public:
  enum class Status {
    kOpen,
    kRefused,  // a link, or not a folder of the effective user
    kFailed,   // cannot be made or opened
  };

  MaildirFolders() = default;
  ~MaildirFolders() { Close(); }
  MaildirFolders(const MaildirFolders&) = delete;
  MaildirFolders& operator=(const MaildirFolders&) = delete;

  // Open - opens the Maildir at the host path `path`, making it (its
  // parent must exist) and tmp/, new/, cur/ when missing (mode 0700), and
  // removes the files of tmp/ older than kMaildirStaleSeconds. `folder`
  // receives the path of the folder that failed. `changed` receives the
  // folders that gained an entry (the parent, the Maildir) when it made
  // any.
  Status Open(std::string_view path, std::string& folder, std::vector<std::string>& changed);
  bool IsOpen() const { return !path_.empty(); }
  void Close();

  // Create - creates the file `name` in tmp/ exclusively, mode 0600, for
  // writing. nullptr when it exists or cannot be made.
  std::FILE* Create(const std::string& name);

  // Publish - moves tmp/`name` into new/ under the same name, never
  // replacing an entry there. True when done.
  bool Publish(const std::string& name);

  // Discard - removes tmp/`name`.
  void Discard(const std::string& name);

  // Host paths of tmp/`name` and of the new/ folder (for the flush).
  std::string TmpPath(const std::string& name) const;
  std::string NewFolder() const;

 private:
  std::string path_;  // host path of the Maildir; empty while closed
#ifndef _WIN32
  int tmp_ = -1;  // the open tmp/ and new/
  int new_ = -1;
#endif
};

// CutHostFile - cuts the open file back to `size` bytes (what a failed
// append left). False when that fails.
bool CutHostFile(std::FILE* file, std::int64_t size);

// SpoolLock: the locks of an mbox file while one message is appended.
// POSIX: a dot-lock "<path>.lock" (created exclusively, holding the
// owner's process id and host name as "<pid> <host>"; one of this host
// whose process is gone is taken over at once, any other after
// kStaleDotLockSeconds; skipped when the folder cannot be written, as
// other mail programs do) and an fcntl write lock on the whole open file.
// Windows: LockFileEx on the file. Another holder is waited for a bounded
// time.
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
