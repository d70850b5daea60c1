// The part walker's files and log over the platform: display files read
// through TextFile (bytes, seekable), attachments written through TextFile
// to a new file beside the target that replaces the target's entry when
// whole, log entries under the module MailFile.
#pragma once

#include "codec/part_files.h"

namespace zel {

class HostPartFiles final : public PartFiles {
 public:
  // Returns nullptr when the file cannot be opened.
  std::unique_ptr<SeekableSource> openRead(std::string_view path) override;
  std::unique_ptr<ClosableSink> openWrite(std::string_view path) override;
  // Writes the entry "... MailFile.cpp <line> <message>".
  void log(int line, std::string_view message) override;
};

}  // namespace zel
