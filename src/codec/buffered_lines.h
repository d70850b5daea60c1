// Lines with fgets semantics over a stream read in chunks: one buffer, one
// search for the line feed per read. The file adapters of the layers above
// the codec derive from it and supply readChunk.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zel {

// `Base` is LineSource or an interface derived from it; `kChunk` the bytes
// of one read.
template <class Base, std::size_t kChunk>
class BufferedLines : public Base {
 public:
  // Returns the bytes read (NUL-terminated in `buffer`), 0 at the end.
  std::size_t readLine(char* buffer, std::size_t size) override {
    if (size < 2) {
      if (size == 1) buffer[0] = '\0';
      return 0;
    }
    std::size_t count = 0;
    while (count < size - 1) {
      if (begin_ == end_ && !fill()) break;
      const std::size_t want = std::min(end_ - begin_, size - 1 - count);
      const char* from = buffer_ + begin_;
      const void* feed = std::memchr(from, '\n', want);
      const std::size_t take = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - from) + 1 : want;
      std::memcpy(buffer + count, from, take);
      begin_ += take;
      count += take;
      if (feed) break;
    }
    buffer[count] = '\0';
    return count;
  }

  // The next byte, or -1 at the end.
  int peek() override {
    if (begin_ == end_ && !fill()) return -1;
    return static_cast<unsigned char>(buffer_[begin_]);
  }

 protected:
  // Reads up to `n` bytes into `buffer`. Returns the count; 0 at the end or
  // on a read error.
  virtual std::size_t readChunk(char* buffer, std::size_t n) = 0;

  // Bytes handed out since the start or the last dropBuffer().
  std::int64_t consumed() const { return read_ - static_cast<std::int64_t>(end_ - begin_); }

  // Forgets what was read ahead (after the stream was moved).
  void dropBuffer() {
    begin_ = end_ = 0;
    read_ = 0;
  }

 private:
  bool fill() {
    begin_ = 0;
    end_ = readChunk(buffer_, kChunk);
    read_ += static_cast<std::int64_t>(end_);
    return end_ > 0;
  }

  char buffer_[kChunk];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::int64_t read_ = 0;  // bytes readChunk delivered
};

}  // namespace zel
