#include "ops/text_file_stream.h"

#include <algorithm>
#include <cstring>

namespace zel {

bool TextFileSource::Fill() {
  begin_ = 0;
  end_ = file_.Read(buffer_, kChunk);
  return end_ > 0;
}

int TextFileSource::peek() {
  if (begin_ == end_ && !Fill()) return -1;
  return static_cast<unsigned char>(buffer_[begin_]);
}

std::size_t TextFileSource::readLine(char* buffer, std::size_t size) {
  if (size < 2) {
    if (size == 1) buffer[0] = '\0';
    return 0;
  }
  std::size_t count = 0;
  while (count < size - 1) {
    if (begin_ == end_ && !Fill()) break;
    const std::size_t want = std::min(end_ - begin_, size - 1 - count);
    const char* start = buffer_ + begin_;
    const void* feed = std::memchr(start, '\n', want);
    const std::size_t take =
        feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - start) + 1 : want;
    std::memcpy(buffer + count, start, take);
    begin_ += take;
    count += take;
    if (feed) break;
  }
  buffer[count] = '\0';
  return count;
}

}  // namespace zel
