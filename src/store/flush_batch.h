// What a receive-all stored since it last recorded its messages: the files
// it wrote, the folders that gained an entry, and the Maildir files still
// in tmp/. The run records (seen-UIDL file, the server's flags, QUIT after
// DELE) only after Flush has put all of it on stable storage; a run killed
// meanwhile fetches at most one batch again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/mail_spool.h"

namespace zel {

// Messages of one batch at most: a killed run fetches no more than this
// again, and a run of typical size still records in a few flushes.
inline constexpr std::size_t kBatchMessages = 200;
// Bytes of one batch at most, so that a batch of large messages is
// recorded before it costs a long download again.
inline constexpr std::uint64_t kBatchBytes = 16 * 1024 * 1024;

class FlushBatch {
 public:
  // AddFile - `path` was written; `created`: the run made it, so its
  // folder gained an entry.
  void AddFile(const std::string& path, bool created);

  // AddFolder - the folder `path` gained an entry.
  void AddFolder(const std::string& path) { folders_.push_back(path); }

  // The run's Maildir (opened by the first Maildir delivery).
  MaildirFolders& Maildir() { return maildir_; }

  // AddMaildirFile - the message file `name` was written in the Maildir's
  // tmp/; Flush moves it into new/.
  void AddMaildirFile(const std::string& name) { maildirNames_.push_back(name); }

  // AddMessage - one message of `bytes` was stored.
  void AddMessage(std::uint64_t bytes) {
    ++messages_;
    bytes_ += bytes;
  }

  // True once the batch holds kBatchMessages messages or kBatchBytes.
  bool Full() const { return messages_ >= kBatchMessages || bytes_ >= kBatchBytes; }

  // Flush - with `sync`: the write-back of every file (and of `also`, when
  // not empty) started, then each waited for; the Maildir files moved into
  // new/; then each folder that gained an entry (new/ too) flushed. Without
  // `sync` only the moves. The batch is empty afterwards. Returns false
  // when a flush or a move failed: the Maildir files not yet moved are
  // removed then (none of the batch may be recorded).
  bool Flush(bool sync, const std::string& also);

 private:
  std::vector<std::string> files_;
  std::vector<std::string> folders_;
  MaildirFolders maildir_;
  std::vector<std::string> maildirNames_;  // written in tmp/, not yet in new/
  std::size_t messages_ = 0;
  std::uint64_t bytes_ = 0;
};

}  // namespace zel
