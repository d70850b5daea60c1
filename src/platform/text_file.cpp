#include "platform/text_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>

#include "platform/format_text.h"

namespace zel {

TextFile::~TextFile() { Close(); }

bool TextFile::Open(std::string_view path, Mode mode, bool privateFile) {
  Close();
  failed_ = false;
  eof_ = false;
  written_ = 0;
  const char* how = "rb";
  switch (mode) {
    case Mode::kRead:
    case Mode::kReadBinary: how = "rb"; break;
    case Mode::kWrite:
    case Mode::kWriteBinary: how = "wb"; break;
    case Mode::kCreate: how = "wbx"; break;
    case Mode::kAppend:
    case Mode::kAppendBinary: how = "ab"; break;
  }
  text_ = mode == Mode::kRead || mode == Mode::kWrite || mode == Mode::kCreate ||
          mode == Mode::kAppend;
  file_ = OpenHostFile(path, how, privateFile);
  if (file_ == nullptr) return false;
  reading_ = how[0] == 'r';
  buffer_ = new (std::nothrow) char[kBufferSize];
  if (buffer_ == nullptr) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  // Reads fill buffer_ directly (the stream keeps no second copy); writes
  // are gathered in it by the stream. Either way the C library need not
  // look at the file to size a buffer of its own.
  if (reading_) {
    std::setvbuf(file_, nullptr, _IONBF, 0);
  } else {
    std::setvbuf(file_, buffer_, _IOFBF, kBufferSize);
  }
  begin_ = end_ = 0;
  return true;
}

int TextFile::FillBuffer() {
  if (begin_ == end_) {
    if (eof_ || file_ == nullptr || !reading_) return EOF;
    end_ = std::fread(buffer_, 1, kBufferSize, file_);
    begin_ = 0;
    if (end_ < kBufferSize) {
      if (std::ferror(file_)) failed_ = true;
      eof_ = true;  // a short read met the end: no further read is made
    }
    if (end_ == 0) {
      eof_ = true;
      return EOF;
    }
  }
  return static_cast<unsigned char>(buffer_[begin_]);
}


char TextFile::TakeCr() {
  ++begin_;
  if (FillBuffer() != '\n') return '\r';
  ++begin_;
  return '\n';
}

char* TextFile::GetLine(char* buf, std::size_t size, std::size_t* length) {
  if (length != nullptr) *length = 0;
  if (buf == nullptr || size == 0) return nullptr;
  buf[0] = '\0';
  if (size < 2 || file_ == nullptr) return nullptr;
  std::size_t n = 0;
  while (n < size - 1) {
    if (FillBuffer() == EOF) break;
    // Copy the buffered run up to the next LF (or CR in text mode) at once.
    const char* start = buffer_ + begin_;
    const std::size_t run = std::min(end_ - begin_, size - 1 - n);
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', run));
    std::size_t take = lf != nullptr ? static_cast<std::size_t>(lf - start) + 1 : run;
    if (text_) {
      const void* cr = std::memchr(start, '\r', take);
      if (cr != nullptr) take = static_cast<std::size_t>(static_cast<const char*>(cr) - start);
    }
    std::memcpy(buf + n, start, take);
    begin_ += take;
    n += take;
    if (take > 0 && buf[n - 1] == '\n') break;
    if (n < size - 1 && text_ && begin_ < end_ && buffer_[begin_] == '\r') {
      buf[n++] = TakeCr();
      if (buf[n - 1] == '\n') break;
    }
  }
  buf[n] = '\0';
  if (length != nullptr) *length = n;
  if (n == 0) return nullptr;
  return buf;
}

bool TextFile::ReadLine(std::string& line) {
  line.clear();
  char piece[4096];
  std::size_t n = 0;
  while (GetLine(piece, sizeof piece, &n) != nullptr) {
    line.append(piece, n);
    if (piece[n - 1] == '\n') break;
  }
  return !line.empty() && !failed_;
}

std::size_t TextFile::Read(void* out, std::size_t n) {
  if (file_ == nullptr || !reading_) return 0;
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
    if (FillBuffer() == EOF) break;
    // Copy the buffered run at once; in text mode up to the next CR.
    const char* start = buffer_ + begin_;
    std::size_t take = std::min(end_ - begin_, n - done);
    const void* cr = text_ ? std::memchr(start, '\r', take) : nullptr;
    if (cr != nullptr) take = static_cast<std::size_t>(static_cast<const char*>(cr) - start);
    std::memcpy(dst + done, start, take);
    begin_ += take;
    done += take;
    if (cr != nullptr) dst[done++] = TakeCr();
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
  written_ += static_cast<std::int64_t>(n);
  return true;
}

bool TextFile::Write(std::string_view data) {
  if (file_ == nullptr || failed_) {
    failed_ = true;
    return false;
  }
  if (!text_) return WriteRaw(data.data(), data.size());
  // Short lines are gathered with their CR LF and handed to the C library
  // in one call; a long piece goes straight through.
  char staged[kStageSize];
  std::size_t used = 0;
  auto flush = [&] {
    const bool ok = WriteRaw(staged, used);
    used = 0;
    return ok;
  };
  while (!data.empty()) {
    const void* lf = std::memchr(data.data(), '\n', data.size());
    const std::size_t piece = lf != nullptr
        ? static_cast<std::size_t>(static_cast<const char*>(lf) - data.data())
        : data.size();
    const std::size_t end = lf != nullptr ? 2 : 0;
    if (used + piece + end > sizeof staged && !flush()) return false;
    if (piece + end > sizeof staged) {
      if (!WriteRaw(data.data(), piece) || !WriteRaw("\r\n", end)) return false;
    } else {
      std::memcpy(staged + used, data.data(), piece);
      std::memcpy(staged + used + piece, "\r\n", end);
      used += piece + end;
    }
    data.remove_prefix(piece + (lf != nullptr ? 1 : 0));
  }
  return flush();
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

bool TextFile::Flush() {
  if (file_ == nullptr || failed_) return false;
  if (std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

bool TextFile::Lock() { return file_ != nullptr && LockHostFile(file_, true); }

void TextFile::Unlock() {
  if (file_ != nullptr) LockHostFile(file_, false);
}

std::int64_t TextFile::Size() { return file_ != nullptr ? HostFileSize(file_) : -1; }

bool TextFile::CloseAt(std::int64_t size) {
  if (file_ == nullptr) return false;
  const bool cut = CloseHostFileAt(file_, size);
  file_ = nullptr;
  delete[] buffer_;
  buffer_ = nullptr;
  begin_ = end_ = 0;
  return cut;
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
