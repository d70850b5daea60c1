// The files of one receive-all run that outlive its message loop: the
// run's locks on the list and seen-UIDL files (held from before the login
// to the end of the mailbox step) and the files it wrote, which are
// flushed to stable storage before QUIT when the run deletes on the server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_lock.h"

namespace zel {

struct ReceiveFiles {
  FileLock list;
  FileLock seen;
  bool listUsed = false;  // the run wrote the list file
  bool seenUsed = false;  // the run saved the seen-UIDL file
  std::vector<std::string> written;  // with DELE: what to flush before QUIT
  // IMAP: the UIDs to mark at the end (stored; with DELESEEN seen too).
  std::vector<std::uint32_t> storedUids;

  // A file the lock created and the run never used is removed again: a
  // run that stored nothing leaves the folder as it found it.
  ~ReceiveFiles() {
    list.Release(!listUsed);
    seen.Release(!seenUsed);
  }
};

}  // namespace zel
