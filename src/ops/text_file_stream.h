// Line streams over an open TextFile, for handing files to the codec.
#pragma once

#include <cstddef>
#include <string_view>

#include "codec/line_stream.h"
#include "platform/text_file.h"

namespace zel {

// Reads lines from `file` (text mode: CR LF comes as LF) with fgets
// semantics and one byte of look-ahead. The file must stay open while the
// source is used; the source reads ahead, so use the file only through it.
class TextFileSource : public LineSource {
 public:
  explicit TextFileSource(TextFile& file) : file_(file) {}

  // Returns the bytes read (NUL-terminated in `buffer`), 0 at the end.
  std::size_t readLine(char* buffer, std::size_t size) override;
  // The next byte, or -1 at the end of the file.
  int peek() override;

 private:
  bool Fill();  // refills the buffer; false at the end or on a read error

  TextFile& file_;
  static constexpr std::size_t kChunk = 16 * 1024;  // one read of the file
  char buffer_[kChunk];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Writes text to `file` (text mode: LF goes out as CR LF).
class TextFileSink : public LineSink {
 public:
  explicit TextFileSink(TextFile& file) : file_(file) {}
  // Returns false when the write fails.
  bool write(std::string_view text) override { return file_.Write(text); }

 private:
  TextFile& file_;
};

}  // namespace zel
