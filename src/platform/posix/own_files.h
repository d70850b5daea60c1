// The POSIX backend's rules for files in folders that strangers may write
// (internal to the backend): a file is written only when it is a regular
// file of the effective user reached without a link, and nothing waits on a
// FIFO or on a lock for ever.
#pragma once

#include <sys/types.h>

#include <string>

namespace zel {

// How long a lock held by another process is waited for: another run's
// mailbox entry or index update takes well under this; a lock held longer
// is a stranger's, and the operation fails instead of hanging.
inline constexpr int kLockWaitMilliseconds = 30000;

// The effective user's home folder: $HOME when absolute, else the user
// database. Empty when neither gives one.
std::string HomeFolder();

// Creates every missing folder of the absolute path `dir` with mode 0700.
// True when `dir` is then a folder of the effective user (not a link).
bool MakePrivateFolders(const std::string& dir);

// Opens the native path `native` with `flags` (an access mode, optionally
// O_CREAT, O_EXCL, O_APPEND; never O_TRUNC) without following a link at its
// last component and without blocking (a FIFO). A file created gets `mode`
// (less the umask). Returns the descriptor, or -1 with errno set: ELOOP for
// a link, EPERM when the file is not a regular file of the effective user.
int OpenOwnFile(const char* native, int flags, mode_t mode);

// Takes an exclusive advisory lock (flock) on `fd`: at once or not at all
// when `wait` is false, else waiting at most kLockWaitMilliseconds.
// Returns false with errno EWOULDBLOCK when another holds it.
bool LockDescriptor(int fd, bool wait);

}  // namespace zel
