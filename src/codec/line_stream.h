// Line streams the codec reads and writes. The codec never opens files: the
// caller hands it an open stream (a text file, a string in the tests).
#pragma once

#include <cstddef>
#include <string_view>

namespace zel {

// A stream of text lines, read with the C library's fgets semantics.
class LineSource {
 public:
  virtual ~LineSource() = default;

  // Reads up to and including the next line feed, or size - 1 bytes, or to
  // the end, into `buffer` (capacity `size` >= 2) and NUL-terminates it.
  // Returns the number of bytes read; 0 only at the end of the stream.
  virtual std::size_t readLine(char* buffer, std::size_t size) = 0;

  // The next byte without consuming it, or -1 at the end of the stream.
  virtual int peek() = 0;

  // True after a read error, which ends the stream early (a stream that
  // cannot fail never is).
  virtual bool failed() const { return false; }
};

// A stream text is written to.
class LineSink {
 public:
  virtual ~LineSink() = default;

  // Writes `text` as it is (line feeds included by the caller).
  // Returns false when writing fails.
  virtual bool write(std::string_view text) = 0;
};

// A LineSource that can be read again from its start.
class RewindableSource : public LineSource {
 public:
  // Moves back to the first byte. Returns false when that fails.
  virtual bool rewind() = 0;
};

// A LineSink whose text can be thrown away and written anew.
class RewindableSink : public LineSink {
 public:
  // Discards everything written so far. Returns false when that fails.
  virtual bool rewind() = 0;
};

}  // namespace zel
