// Text and byte files with identical bytes on every platform.
//
// Text mode stores each LF as CR LF on disk and reads CR LF back as LF (a CR
// not followed by LF is kept). Byte 0x1A is ordinary data. Binary mode passes
// bytes unchanged. The translation is done here over a binary OS file, so
// Linux and Windows write the same bytes. Paths are host (Shift-JIS) text.
//
// Every write reports failure; a failed write makes the file "failed" for
// good, and Close then reports failure too, so a caller may check only Close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace zel {

class TextFile {
 public:
  enum class Mode {
    kRead,          // text, read
    kWrite,         // text, create or truncate
    kCreate,        // text, create a new file; fails when the path exists
    kAppend,        // text, create or append
    kReadBinary,    // bytes, read
    kWriteBinary,   // bytes, create or truncate
    kAppendBinary,  // bytes, create or append
  };

  TextFile() = default;
  ~TextFile();  // closes without reporting
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Opens `path` in `mode` (see OpenHostFile for what is refused).
  // `privateFile`: a file of this user alone (see OpenHostFile).
  // Returns false on failure (including a path that cannot be converted).
  bool Open(std::string_view path, Mode mode, bool privateFile = false);

  bool IsOpen() const { return file_ != nullptr; }

  // fgets semantics: reads up to and including the next LF, at most
  // size - 1 bytes (counted after translation), and writes a NUL after them.
  // A longer line comes in pieces. Returns `buf`, or nullptr at end of file
  // with nothing read, on a read error, or when size < 2 (buf[0] is then
  // NUL when size >= 1). A line may contain NUL bytes; `*length`, when
  // given, receives the number of bytes stored.
  char* GetLine(char* buf, std::size_t size, std::size_t* length = nullptr);

  // Reads one whole line, however long, into `line` (its LF kept when it
  // has one). Returns false at end of file with nothing read or on a read
  // error.
  bool ReadLine(std::string& line);

  // Reads up to `n` bytes (translated in text mode). Returns the count read;
  // fewer than `n` means end of file or an error (see Failed).
  std::size_t Read(void* buf, std::size_t n);

  // Writes `data` (LF becomes CR LF in text mode). Returns false on failure.
  bool Write(std::string_view data);
  bool Write(const void* data, std::size_t n) {
    return Write(std::string_view(static_cast<const char*>(data), n));
  }

  // Writes printf-formatted text (any length). Returns false on failure.
  bool Printf(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // Byte offset in the file of the next byte a read returns (read modes),
  // counted on disk (before text translation). -1 when it is unknown.
  std::int64_t Tell();

  // Moves the read position to `offset` bytes from the start, or from the
  // end when `fromEnd`; clears the end-of-file state. Meant for the binary
  // read mode. Returns false on failure.
  bool Seek(std::int64_t offset, bool fromEnd = false);

  // Hands the buffered writes to the OS. Returns false (and the file is
  // failed) when that or any earlier write failed.
  bool Flush();

  // Bytes handed to the file since it was opened (after translation).
  std::int64_t BytesWritten() const { return written_; }

  // True after end of file was met by a read.
  bool AtEnd() const { return eof_; }

  // True after any read or write error.
  bool Failed() const { return failed_; }

  // Flushes and closes. Returns false when any earlier write failed or the
  // flush/close fails. Closing a file that is not open returns true.
  bool Close();

  // Takes an exclusive advisory lock on the open file, waiting a bounded
  // time for another process (or another open of the file) to let it go;
  // Close or Unlock releases it. Returns false when it cannot be had.
  bool Lock();
  void Unlock();

  // Size of the open file on disk (writes not yet flushed excluded); -1
  // when it cannot be read.
  std::int64_t Size();

  // Closes the file and cuts it back to `size` bytes through the open file
  // itself (never by its path, which may name another file by now): what a
  // failed record left is removed. Returns false when the cut failed.
  bool CloseAt(std::int64_t size);

 private:
  int FillBuffer();  // next raw byte or EOF, refilling the read buffer
  char TakeCr();     // consumes the CR at begin_ (and a LF after it): LF or CR
  bool WriteRaw(const char* data, std::size_t n);

  std::FILE* file_ = nullptr;
  bool text_ = false;
  bool reading_ = false;
  bool eof_ = false;
  bool failed_ = false;
  std::int64_t written_ = 0;
  static constexpr std::size_t kBufferSize = 64 * 1024;  // one OS read
  static constexpr std::size_t kStageSize = 2048;  // text written per C library call
  char* buffer_ = nullptr;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Opens a host path as a C stream in the given fopen mode ("rb", "wb", "ab",
// or "wbx": create a new file, failing when the path exists).
// Files are read only when they are regular files: a FIFO, a device or a
// folder fails as a file that cannot be opened (POSIX opens them without
// blocking and checks after opening; Windows checks the handle's type).
// A file is written (created, replaced or appended to) only when the path
// names it without a link and it is a regular file of the effective user:
// a link, a FIFO or another user's file at the path fails the open, and
// nothing is cut before these checks (Windows: a reparse point is refused,
// FILE_FLAG_OPEN_REPARSE_POINT). `privateFile` (POSIX; ignored on Windows):
// a new file gets mode 0600 instead of the host's default, and a file to
// read must pass the same checks.
// Backend primitive of TextFile; returns nullptr on failure.
std::FILE* OpenHostFile(std::string_view path, const char* mode, bool privateFile);

// 64-bit fseek (whence SEEK_SET or SEEK_END) and ftell of a host file
// stream: backend primitives of TextFile. Seek returns false, Tell -1 on
// failure.
bool SeekHostFile(std::FILE* file, std::int64_t offset, int whence);
std::int64_t TellHostFile(std::FILE* file);

// Backend primitives of TextFile::Lock/Unlock, Size and CloseAt: an
// exclusive advisory lock on the stream's file (`lock` false releases it;
// a held lock is waited for a bounded time), its size, and close-and-cut.
bool LockHostFile(std::FILE* file, bool lock);
std::int64_t HostFileSize(std::FILE* file);
bool CloseHostFileAt(std::FILE* file, std::int64_t size);

}  // namespace zel
