// A host text file written one record at a time (a list line, a mailbox
// entry). Each record reaches the OS whole or not at all: when a write or
// its flush fails (a full disk), the file is cut back to the end of the last
// whole record, so a reader never meets half a record.
//
// Appending, every record is written under an exclusive lock on the file,
// taken at its first byte and held to its commit, and the point to cut back
// to is the file's size under that lock: two processes appending to one
// mailbox never cut away or split each other's entries. A record of up to
// the file buffer's size (64 KiB) goes to the OS in one write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace zel {

class RecordFile {
 public:
  // Opens `path` in text mode, replacing it (`append` false) or appending
  // to it (`append` true, created when missing). Returns false on failure
  // (see OpenHostFile for the files that are refused).
  bool Open(std::string_view path, bool append);

  // Adds `text` to the record being written. Returns false on failure
  // (also when the lock of an appended file cannot be had).
  bool Write(std::string_view text);

  // Ends the record: flushes it to the OS. Returns true when it is whole in
  // the file; false when it could not be written, and then the file is
  // closed and cut back to the records committed before.
  bool Commit();

  // Closes the file. Returns false when a write or the close failed.
  bool Close() { return file_.Close() && !failed_; }

 private:
  TextFile file_;
  bool append_ = false;
  bool locked_ = false;         // appending: the record holds the lock
  bool failed_ = false;         // the record cannot be whole
  std::int64_t committed_ = 0;  // file size after the last whole record
};

}  // namespace zel
