#include "platform/text_file.h"

#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>

#include "platform/format_text.h"

namespace zel {

TextFile::~TextFile() { Close(); }

bool TextFile::Open(std::string_view path, Mode mode, bool noFollow) {
  Close();
  failed_ = false;
  eof_ = false;
  const char* how = "rb";
  switch (mode) {
    case Mode::kRead:
    case Mode::kReadBinary: how = "rb"; break;
    case Mode::kWrite:
    case Mode::kWriteBinary: how = "wb"; break;
    case Mode::kAppend:
    case Mode::kAppendBinary: how = "ab"; break;
  }
  text_ = mode == Mode::kRead || mode == Mode::kWrite || mode == Mode::kAppend;
  file_ = OpenHostFile(path, how, noFollow);
  if (file_ == nullptr) return false;
  if (how[0] == 'r') {
    buffer_ = new (std::nothrow) char[kBufferSize];
    if (buffer_ == nullptr) {
      std::fclose(file_);
      file_ = nullptr;
      return false;
    }
  }
  begin_ = end_ = 0;
  return true;
}

int TextFile::FillBuffer() {
  if (begin_ == end_) {
    if (eof_ || file_ == nullptr || buffer_ == nullptr) return EOF;
    end_ = std::fread(buffer_, 1, kBufferSize, file_);
    begin_ = 0;
    if (end_ == 0) {
      if (std::ferror(file_)) failed_ = true;
      eof_ = true;
      return EOF;
    }
  }
  return static_cast<unsigned char>(buffer_[begin_]);
}


char* TextFile::GetLine(char* buf, std::size_t size, std::size_t* length) {
  if (length != nullptr) *length = 0;
  if (buf == nullptr || size == 0) return nullptr;
  buf[0] = '\0';
  if (size < 2 || file_ == nullptr) return nullptr;
  std::size_t n = 0;
  while (n < size - 1) {
    int c = FillBuffer();
    if (c == EOF) break;
    ++begin_;
    if (text_ && c == '\r') {
      const int next = FillBuffer();
      if (next == '\n') {
        ++begin_;
        c = '\n';
      }
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  if (length != nullptr) *length = n;
  if (n == 0) return nullptr;
  return buf;
}

std::size_t TextFile::Read(void* out, std::size_t n) {
  if (file_ == nullptr || buffer_ == nullptr) return 0;
  char* dst = static_cast<char*>(out);
  std::size_t done = 0;
  while (done < n) {
    if (!text_ && begin_ == end_ && n - done >= kBufferSize && !eof_) {
      // Bytes, nothing buffered, a large request: straight into the caller's buffer.
      const std::size_t want = n - done;
      const std::size_t got = std::fread(dst + done, 1, want, file_);
      done += got;
      if (got < want) {
        if (std::ferror(file_)) failed_ = true;
        eof_ = true;
        break;
      }
      continue;
    }
    int c = FillBuffer();
    if (c == EOF) break;
    if (!text_) {
      // Bytes: copy the whole buffered run at once.
      std::size_t run = end_ - begin_;
      if (run > n - done) run = n - done;
      std::memcpy(dst + done, buffer_ + begin_, run);
      begin_ += run;
      done += run;
      continue;
    }
    ++begin_;
    if (c == '\r' && FillBuffer() == '\n') {
      ++begin_;
      c = '\n';
    }
    dst[done++] = static_cast<char>(c);
  }
  return done;
}

std::int64_t TextFile::Tell() {
  if (file_ == nullptr) return -1;
  const std::int64_t at = TellHostFile(file_);
  if (at < 0) return -1;
  return at - static_cast<std::int64_t>(end_ - begin_);
}

bool TextFile::Seek(std::int64_t offset, bool fromEnd) {
  if (file_ == nullptr || !SeekHostFile(file_, offset, fromEnd ? SEEK_END : SEEK_SET)) return false;
  begin_ = end_ = 0;
  eof_ = false;
  return true;
}

bool TextFile::WriteRaw(const char* data, std::size_t n) {
  if (n == 0) return true;
  if (std::fwrite(data, 1, n, file_) != n) {
    failed_ = true;
    return false;
  }
  return true;
}

bool TextFile::Write(std::string_view data) {
  if (file_ == nullptr || failed_) {
    failed_ = true;
    return false;
  }
  if (!text_) return WriteRaw(data.data(), data.size());
  // Each LF goes out as CR LF; runs between them are gathered into blocks.
  char block[8 * 1024];
  std::size_t used = 0;
  while (!data.empty()) {
    const void* feed = std::memchr(data.data(), '\n', data.size());
    const std::size_t run = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - data.data()) : data.size();
    const std::size_t take = run + (feed ? 2 : 0);  // the run and CR LF
    if (used + take > sizeof block) {
      if (!WriteRaw(block, used)) return false;
      used = 0;
      if (take > sizeof block) {  // a long run goes out by itself
        if (!WriteRaw(data.data(), run) || (feed && !WriteRaw("\r\n", 2))) return false;
        data.remove_prefix(run + (feed ? 1 : 0));
        continue;
      }
    }
    std::memcpy(block + used, data.data(), run);
    used += run;
    if (feed) {
      block[used++] = '\r';
      block[used++] = '\n';
    }
    data.remove_prefix(run + (feed ? 1 : 0));
  }
  return WriteRaw(block, used);
}

bool TextFile::Printf(const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  const bool formatted = FormatText(text, format, args);
  va_end(args);
  if (!formatted) {
    failed_ = true;
    return false;
  }
  return Write(text);
}

bool TextFile::Close() {
  if (file_ == nullptr) return true;
  bool ok = !failed_;
  if (std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  delete[] buffer_;
  buffer_ = nullptr;
  begin_ = end_ = 0;
  return ok;
}

}  // namespace zel
