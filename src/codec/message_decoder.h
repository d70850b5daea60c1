// Incoming message decoder: raw message -> display file (".wml").
//
// The raw message is the text the POP3 server sent, CR LF read as LF, still
// dot-stuffed. The display file gets the header unfolded and decoded to
// Shift-JIS (with the raw Subject kept on an "X-Subject:" line before the
// decoded one), an empty line, and the body converted from ISO-2022-JP to
// Shift-JIS and dot-unstuffed. MIME structure passes through unchanged.
//
// Lines are read whole, however long: a long raw line is never split into
// pieces that would each be taken for a line of their own.
#pragma once

#include <cstddef>
#include <ctime>

#include "codec/body_decoder.h"
#include "codec/decode_mode.h"
#include "codec/line_stream.h"
#include "platform/sjis_text.h"

namespace zel {

// Capacity of the captured From text (NUL included).
inline constexpr std::size_t kInfoFromSize = kAccountSize;
// Capacity of the captured Subject text (NUL included).
inline constexpr std::size_t kInfoSubjectSize = 1000;

// Date, From and Subject of the last decoded message, for the list file.
// From and Subject are whole decoded header lines, name included, cleaned
// by trimBlanks and cut at a character boundary to their capacity.
struct MessageInfo {
  std::tm date{};                     // wall-clock fields of the Date line
  char from[kInfoFromSize] = {};      // "From: ..." or empty
  char subject[kInfoSubjectSize] = {};  // "Subject: ..." or empty

  // Empties all three, as before each message.
  void clear();
};

// The decoder of one message in either mode: decodeHeader, then decodeBody
// on the same streams. DecodeMode::kClassic is decodeHeaderBlock and
// decodeBodyText below, byte for byte. DecodeMode::kAnyCharset decodes
// header lines with decodeHeaderWords (header_words.h) and the body as
// BodyDecoder (body_decoder.h) writes it; lines whose encoded words are all
// ISO-2022-JP (or in charsets this build does not know) come out as the
// classic decoder writes them, so does every part that needs neither
// transfer decoding nor charset conversion. The header is held until its
// end (the Content-Type and Content-Transfer-Encoding of a decoded text
// message are relabelled), up to kHeaderHoldMax bytes.
class MessageDecoder {
 public:
  explicit MessageDecoder(DecodeMode mode) : mode_(mode) {}

  // As decodeHeaderBlock. Returns 1, or 0 when a line cannot be written.
  int decodeHeader(LineSource& raw, LineSink& display, MessageInfo& info);
  // As decodeBodyText. Returns 1, or 0 when a line cannot be written.
  int decodeBody(LineSource& raw, LineSink& display);

 private:
  DecodeMode mode_;
  PartPlan top_;  // what the header said of the body
};

// A message header longer than this is written as it comes and its body
// taken as the classic decoder takes it.
inline constexpr std::size_t kHeaderHoldMax = 1024 * 1024;

// decodeHeaderBlock: reads the raw header up to its empty line (or the end)
// and writes the display file's header and the empty line after it.
//   Fields are unfolded over continuation lines that start with a blank (a
//   tab does not continue a field). A field beginning "Subject:" is first
//   written undecoded with "X-" in front. Each field is decoded with
//   decodeHeaderLine within the 1,024-byte work area; whatever of a longer
//   field does not fit is written after it undecoded. Every line written
//   stays one line: control bytes other than TAB become blanks. Date, From
//   and Subject are captured into `info` (which the caller clears).
// Returns 1 on success, 0 when a line cannot be written.
int decodeHeaderBlock(LineSource& raw, LineSink& display, MessageInfo& info);

// decodeBodyText: reads the rest of the raw message and writes the body.
//   Each line is converted by jisToSjis on its own; a line that is exactly
//   "." ends the body (and is not written); any other line starting with
//   "." loses that first dot. A line feed is added when the last written
//   line has none.
// Returns 1 on success, 0 when a line cannot be written.
int decodeBodyText(LineSource& raw, LineSink& display);

}  // namespace zel
