// The raw text of one retrieved message as receive-all holds it between
// RETR and the decoder: the bytes Retr writes (CR LF line ends, dot-stuffing
// kept), in memory up to kRawInMemory bytes, so that a typical message never
// touches the disk; a larger one goes on into a temporary file of its own.
//
// No file is ever truncated for a message: the run reuses one memory
// buffer, and a large message's file is made new and deleted after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "codec/buffered_lines.h"
#include "codec/line_stream.h"
#include "platform/sjis_text.h"
#include "platform/text_file.h"

namespace zel {

// Bytes of a message held in memory at most: far above a typical mail, and
// small beside what a host has; beyond it the disk's cost per message is
// small beside the message's own transfer.
inline constexpr std::size_t kRawInMemory = 1024 * 1024;

class RawMessage final : public LineSink {
 public:
  RawMessage() = default;
  ~RawMessage() override { Clear(); }
  RawMessage(const RawMessage&) = delete;
  RawMessage& operator=(const RawMessage&) = delete;

  // Forgets the message held: the memory is kept for the next one, a file
  // of a large message is deleted (unless Keep gave it out).
  void Clear();

  // Adds `bytes` to the message (for Retr). Returns false when the
  // temporary file of a large message cannot be made or written.
  bool write(std::string_view bytes) override;

  // Bytes written since the last Clear.
  std::uint64_t Size() const { return size_; }

  // Opens the message for reading as a text file reads (CR LF as LF, fgets
  // semantics), from its start again at every call; valid until the next
  // Clear or write. Returns nullptr when the file of a large message cannot
  // be opened; a read error of that file shows in the source's failed().
  LineSource* Read();

  // Leaves the message in a temporary file of its own, which outlives the
  // object (a message that could not be stored stays for the user): the
  // large message's file, or a new one written from memory. Returns its
  // path; empty when no file could be written.
  const char* Keep();

 private:
  // Lines of bytes in memory, CR LF read as LF.
  class MemoryLines final : public BufferedLines<LineSource, 16 * 1024> {
   public:
    // Reads `bytes` from their start.
    void Start(std::string_view bytes) {
      bytes_ = bytes;
      dropBuffer();
    }

   private:
    std::size_t readChunk(char* buffer, std::size_t n) override;
    std::string_view bytes_;
  };
  // Moves what memory holds into a new temporary file, left open for more.
  bool Spill();
  // Writes what memory holds into a new temporary file, closed.
  bool WriteMemoryToFile();

  std::string memory_;
  MemoryLines lines_;
  char path_[kPathSize] = {};
  TextFile file_;      // the large message's file while it is written or read
  std::unique_ptr<LineSource> fileLines_;  // reads file_
  std::uint64_t size_ = 0;
  bool kept_ = false;  // path_ was handed out by Keep
  bool failed_ = false;
};

}  // namespace zel
