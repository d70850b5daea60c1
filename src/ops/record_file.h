// A host text file written one record at a time (a list line, a mailbox
// entry). Each record reaches the OS whole or not at all: when a write or
// its flush fails (a full disk), the file is cut back to the end of the last
// whole record, so a reader never meets half a record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace zel {

class RecordFile {
 public:
  // Opens `path` in text mode, replacing it (`append` false) or appending
  // to it (`append` true, created when missing). Returns false on failure.
  bool Open(std::string_view path, bool append);

  // Adds `text` to the record being written. Returns false on failure.
  bool Write(std::string_view text) { return file_.Write(text); }

  // Ends the record: flushes it to the OS. Returns true when it is whole in
  // the file; false when it could not be written, and then the file is
  // closed and cut back to the records committed before.
  bool Commit();

  // Closes the file. Returns false when a write or the close failed.
  bool Close() { return file_.Close(); }

 private:
  TextFile file_;
  std::string path_;
  std::int64_t start_ = 0;      // file size when opened
  std::int64_t committed_ = 0;  // file size after the last whole record
};

}  // namespace zel
