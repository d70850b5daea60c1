// What the MIME part walker needs from outside the codec: files read as
// seekable bytes and written as bytes, both by host path, and the diagnostic
// log. The library hands it the platform's files; tests hand it memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "codec/line_stream.h"

namespace zel {

// A file read as bytes (CR LF stays CR LF) with fgets semantics.
class SeekableSource : public LineSource {
 public:
  // Offset of the next byte to be read.
  virtual std::int64_t tell() = 0;
  // Moves to `offset` from the start. Returns false when that fails.
  virtual bool seek(std::int64_t offset) = 0;
  // Moves to the end. Returns its offset, or -1 when that fails.
  virtual std::int64_t seekEnd() = 0;
};

// A file written as bytes.
class ClosableSink : public LineSink {
 public:
  // Finishes the file. Returns false when a write or the close failed.
  virtual bool close() = 0;
};

class PartFiles {
 public:
  virtual ~PartFiles() = default;

  // Opens `path` for reading. Returns nullptr when it cannot be opened.
  virtual std::unique_ptr<SeekableSource> openRead(std::string_view path) = 0;

  // Creates or truncates `path` for writing. Returns nullptr on failure.
  virtual std::unique_ptr<ClosableSink> openWrite(std::string_view path) = 0;

  // Writes one diagnostic log entry of the module MailFile reported from
  // `line`, with `message` as its text.
  virtual void log(int line, std::string_view message) = 0;
};

}  // namespace zel
