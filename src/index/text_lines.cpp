#include "index/text_lines.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zel {

namespace {

using Bytes = signed char __attribute__((vector_size(16)));

// Sum of the lanes of `lanes`, each holding minus a count of 0 to 255 (as
// the comparisons below leave them): four lanes at a time in 16-bit fields.
std::int64_t SumCounts(Bytes lanes) {
  const Bytes counts = -lanes;
  std::uint64_t halves[2];
  std::memcpy(halves, &counts, sizeof halves);
  std::int64_t n = 0;
  for (std::uint64_t h : halves) {
    h = (h & 0x00FF00FF00FF00FFull) + ((h >> 8) & 0x00FF00FF00FF00FFull);  // four sums <= 510
    n += static_cast<std::int64_t>((h * 0x0001000100010001ull) >> 48);
  }
  return n;
}

// Number of line feeds in [from, to), sixteen bytes at a time (GCC vector
// extensions: SSE2 on x86-64, plain code elsewhere).
std::int64_t CountLineFeeds(const char* from, const char* to) {
  std::int64_t n = 0;
  if (to - from < 16) {
    for (; from < to; ++from) n += *from == '\n';
    return n;
  }
  for (std::size_t blocks = static_cast<std::size_t>(to - from) / 16; blocks > 0;) {
    // Each lane counts down by one per line feed; 255 blocks fit a lane.
    const std::size_t run = std::min<std::size_t>(blocks, 255);
    Bytes lanes = {};
    for (std::size_t block = 0; block < run; ++block, from += 16) {
      Bytes x;
      std::memcpy(&x, from, 16);
      lanes += (x == '\n');  // -1 where a line feed is
    }
    n += SumCounts(lanes);
    blocks -= run;
  }
  if (from < to) {
    // The last sixteen bytes, without those counted already.
    static constexpr Bytes kLane = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    Bytes x;
    std::memcpy(&x, to - 16, 16);
    n += SumCounts((x == '\n') & (kLane >= static_cast<signed char>(16 - (to - from))));
  }
  return n;
}

// Pieces of a line of `length` bytes (at least 1, CR LF counted as one
// byte): 1 when it fits a piece, which spares the usual line a division.
std::int64_t PieceCount(std::int64_t length, std::size_t limit) {
  const auto piece = static_cast<std::int64_t>(limit);
  return length <= piece ? 1 : (length + piece - 1) / piece;
}

// The last line feed in [from, to), or nullptr. Lines are short, so the
// search from the end stops early.
const char* LastLineFeed(const char* from, const char* to) {
  while (to > from) {
    if (*--to == '\n') return to;
  }
  return nullptr;
}

}  // namespace

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
  lastFeed_ = nullptr;
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
  pieces_ = PieceCount(static_cast<std::int64_t>(length), limit_);
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

// Pieces of the lines in [from, to), which ends at a line end: every line
// that fits a piece counts once, found a window of the piece size at a time.
void TextLines::countPieces(const char* from, const char* to, std::int64_t& pieces) const {
  while (from < to) {
    const char* window = to - from > static_cast<std::ptrdiff_t>(limit_) ? from + limit_ : to;
    if (const char* last = LastLineFeed(from, window)) {
      pieces += CountLineFeeds(from, last + 1);  // each line here ends within a piece
      from = last + 1;
      continue;
    }
    // The line at `from` is longer than a piece.
    const auto* feed = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(to - from)));
    std::size_t length = static_cast<std::size_t>(feed - from) + 1;
    if (feed[-1] == '\r') --length;
    pieces += PieceCount(static_cast<std::int64_t>(length), limit_);
    from = feed + 1;
  }
}

bool TextLines::skipPast(char mark, std::int64_t& pieces) {
  for (;;) {
    char* from = buffer_ + pos_;
    // The buffer's last line feed, found once per fill (it does not move
    // while the body of one message after another is skipped).
    if (lastFeed_ == nullptr || lastFeed_ < from) lastFeed_ = LastLineFeed(from, buffer_ + end_);
    const char* last = lastFeed_;
    if (last == nullptr) {
      // No whole line buffered (the end of the file, or a long line): one
      // line the ordinary way.
      if (!next()) return false;
      pieces += pieces_;
      if (first_.size() <= 2 && !first_.empty() && first_[0] == mark &&
          (first_.size() == 1 ? !complete_ : first_[1] == '\n')) {
        return true;
      }
      continue;
    }
    const char* whole = last + 1;  // the buffered whole lines end here
    const char* q = from;
    while (q < whole) {
      // The next line that starts with the mark.
      const char* start = *q == mark ? q : nullptr;
      for (const char* s = q; start == nullptr && s < whole;) {
        const auto* m = static_cast<const char*>(std::memchr(s, mark, static_cast<std::size_t>(whole - s)));
        if (m == nullptr) break;
        if (m[-1] == '\n') start = m;
        s = m + 1;
      }
      countPieces(q, start != nullptr ? start : whole, pieces);
      if (start == nullptr) {
        q = whole;
        break;
      }
      const auto* feed = static_cast<const char*>(std::memchr(start, '\n', static_cast<std::size_t>(whole - start)));
      std::size_t length = static_cast<std::size_t>(feed - start) + 1;
      if (length >= 2 && feed[-1] == '\r') --length;
      pieces += PieceCount(static_cast<std::int64_t>(length), limit_);
      q = feed + 1;
      if (length == 2) {  // the mark and the line end
        pos_ = static_cast<std::size_t>(q - buffer_);
        return true;
      }
    }
    pos_ = static_cast<std::size_t>(q - buffer_);
    if (!eof_) fill();
  }
}

// A line longer than the buffer: its first piece is kept, the rest counted.
bool TextLines::longLine() {
  std::memcpy(long_, buffer_, limit_);
  first_ = std::string_view(long_, limit_);
  std::int64_t length = static_cast<std::int64_t>(end_);
  char last = buffer_[end_ - 1];
  for (;;) {
    pos_ = end_ = 0;
    if (!fill()) break;
    if (const void* feed = std::memchr(buffer_, '\n', end_)) {
      const std::size_t k = static_cast<std::size_t>(static_cast<const char*>(feed) - buffer_);
      const bool cr = k > 0 ? buffer_[k - 1] == '\r' : last == '\r';
      length += static_cast<std::int64_t>(k) + (cr ? 0 : 1);
      pos_ = k + 1;
      complete_ = true;
      pieces_ = PieceCount(length, limit_);
      return true;
    }
    length += static_cast<std::int64_t>(end_);
    last = buffer_[end_ - 1];
  }
  complete_ = false;
  pieces_ = PieceCount(length, limit_);
  return true;
}

}  // namespace zel
