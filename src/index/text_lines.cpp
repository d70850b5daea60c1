#include "index/text_lines.h"

#include <cstring>

namespace zel {

TextLines::TextLines(TextFile& file, std::size_t pieceLimit)
    : file_(file),
      limit_(pieceLimit < 1 ? 1 : pieceLimit),
      buffer_(new char[kBufferSize + 1]),
      long_(new char[limit_]) {}

TextLines::~TextLines() {
  delete[] buffer_;
  delete[] long_;
}

bool TextLines::fill() {
  if (pos_ > 0) {
    std::memmove(buffer_, buffer_ + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  const std::size_t n = file_.Read(buffer_ + end_, kBufferSize - end_);
  if (n == 0) eof_ = true;
  end_ += n;
  return n > 0;
}

void TextLines::take(char* line, std::size_t raw, bool lineFeed) {
  complete_ = lineFeed;
  std::size_t length = raw;
  if (lineFeed && raw >= 2 && line[raw - 2] == '\r') {
    line[raw - 2] = '\n';  // CR LF is read as LF
    --length;
  }
  pieces_ = static_cast<std::int64_t>((length + limit_ - 1) / limit_);
  first_ = std::string_view(line, length < limit_ ? length : limit_);
}

bool TextLines::next() {
  for (;;) {
    char* from = buffer_ + pos_;
    const std::size_t available = end_ - pos_;
    if (const void* feed = std::memchr(from, '\n', available)) {
      const std::size_t raw = static_cast<std::size_t>(static_cast<const char*>(feed) - from) + 1;
      pos_ += raw;
      take(from, raw, true);
      return true;
    }
    if (eof_) {
      if (available == 0) return false;
      pos_ = end_;
      take(from, available, false);
      return true;
    }
    if (pos_ == 0 && end_ == kBufferSize) return longLine();
    fill();
  }
}

// A line longer than the buffer: its first piece is kept, the rest counted.
bool TextLines::longLine() {
  std::memcpy(long_, buffer_, limit_);
  first_ = std::string_view(long_, limit_);
  std::int64_t length = static_cast<std::int64_t>(end_);
  char last = buffer_[end_ - 1];
  const auto limit = static_cast<std::int64_t>(limit_);
  for (;;) {
    pos_ = end_ = 0;
    if (!fill()) break;
    if (const void* feed = std::memchr(buffer_, '\n', end_)) {
      const std::size_t k = static_cast<std::size_t>(static_cast<const char*>(feed) - buffer_);
      const bool cr = k > 0 ? buffer_[k - 1] == '\r' : last == '\r';
      length += static_cast<std::int64_t>(k) + (cr ? 0 : 1);
      pos_ = k + 1;
      complete_ = true;
      pieces_ = (length + limit - 1) / limit;
      return true;
    }
    length += static_cast<std::int64_t>(end_);
    last = buffer_[end_ - 1];
  }
  complete_ = false;
  pieces_ = (length + limit - 1) / limit;
  return true;
}

}  // namespace zel
