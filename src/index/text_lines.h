// Lines of a text file counted as a reader with a fixed line buffer counts
// them: a physical line longer than the piece limit (after CR LF is read as
// LF) counts as several lines, its pieces. Only a line's first piece is
// handed out; the further pieces continue the line and are never taken for
// a line of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/text_file.h"

namespace zel {

class TextLines {
 public:
  // `file` open in TextFile::Mode::kReadBinary (CR LF is translated here, as
  // text mode does); `pieceLimit` bytes per piece, at least 1.
  TextLines(TextFile& file, std::size_t pieceLimit);
  ~TextLines();
  TextLines(const TextLines&) = delete;
  TextLines& operator=(const TextLines&) = delete;

  // Reads the next physical line. Returns false at the end of the file.
  bool next();

  // Reads lines up to and including the next line that holds only `mark`
  // and its line end (or only `mark`, at the end of the file), adding the
  // pieces of every line read to `pieces`. Lines are not handed out: this
  // skips a message body at the speed of a byte search. Returns false when
  // the file ends first.
  bool skipPast(char mark, std::int64_t& pieces);

  // The line's first piece, its line feed included when the piece holds it.
  // Valid until the next call of next().
  std::string_view first() const { return first_; }

  // Number of pieces of the line (1 or more).
  std::int64_t pieces() const { return pieces_; }

  // True when the line ends with a line feed (only the file's last line may
  // not).
  bool complete() const { return complete_; }

 private:
  void take(char* line, std::size_t raw, bool lineFeed);
  bool longLine();
  void countPieces(const char* from, const char* to, std::int64_t& pieces) const;
  bool fill();

  static constexpr std::size_t kBufferSize = 256 * 1024;  // one read of the file
  TextFile& file_;
  std::size_t limit_;
  char* buffer_;
  char* long_;  // first piece of a line longer than the buffer
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  const char* lastFeed_ = nullptr;  // the buffer's last line feed; nullptr unknown
  bool eof_ = false;
  std::string_view first_;
  std::int64_t pieces_ = 0;
  bool complete_ = false;
};

}  // namespace zel
