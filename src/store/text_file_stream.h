// Line streams over an open TextFile, for handing files to the codec.
#pragma once

#include <cstddef>
#include <string_view>

#include "codec/buffered_lines.h"
#include "codec/line_stream.h"
#include "platform/text_file.h"

namespace zel {

// Reads lines from `file` (text mode: CR LF comes as LF) with fgets
// semantics and one byte of look-ahead. The file must stay open while the
// source is used; the source reads ahead, so use the file only through it.
class TextFileSource : public BufferedLines<RewindableSource, 16 * 1024> {
 public:
  explicit TextFileSource(TextFile& file) : file_(file) {}

  bool failed() const override { return file_.Failed(); }

  // Reads the file again from its first byte.
  bool rewind() override {
    if (!file_.Seek(0)) return false;
    dropBuffer();
    return true;
  }

 private:
  std::size_t readChunk(char* buffer, std::size_t n) override { return file_.Read(buffer, n); }

  TextFile& file_;
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
