// The state of one receive-all run that outlives its message loop: the
// run's locks on the list and seen-UIDL files (held from before the login
// to the end of the run), its seen set, and what it stored since it last
// recorded (the batch), which is flushed to stable storage before the seen
// file, the server's flags or QUIT after DELE record it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "store/flush_batch.h"
#include "store/seen_set.h"

namespace zel {

struct ReceiveFiles {
  FileLock list;
  FileLock seen;
  bool listUsed = false;  // the run wrote the list file
  bool seenUsed = false;  // the run saved the seen-UIDL file
  std::string seenPath;   // the seen-UIDL file; empty for none
  std::unique_ptr<SeenSet> seenSet;  // loaded when the run first needs it
  bool complete = false;  // the run met every message of the listing
  FlushBatch batch;       // stored and not yet recorded
  // A run with a seen file records each full batch; not with a mailbox,
  // which is written after the message loop: the run is one batch then.
  // (A run without a seen file records only at its end.)
  bool recordEachBatch = true;
  bool listCreated = false;  // the list file's folder is to be flushed
  bool flushFailed = false;  // nothing more is recorded, no QUIT is sent
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
