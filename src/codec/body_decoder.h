// The body of a display file in any charset: text parts decoded, the rest
// as the classic decoder writes it.
//
// A single-part text/* message and every inline text/* part of a multipart
// one (no Content-Disposition, or "inline" without a file name, and no name
// in its Content-Type) has its base64 or quoted-printable undone and its
// charset converted to Shift-JIS (〓 for what Shift-JIS lacks); a charset
// this build does not know keeps its bytes, ISO-2022-JP takes the classic
// line conversion. Such a part says so in its own header: its original
// Content-Type and Content-Transfer-Encoding lines stay as "X-" copies in
// front of the lines that describe the bytes now standing there. Parts in
// ISO-2022-JP, ASCII or no charset that need no transfer decoding, and
// every attachment, are written exactly as the classic decoder writes
// them, so are boundaries, preambles and epilogues.
//
// A message without MIME header fields (neither MIME-Version nor
// Content-Type) has the charset of its body guessed (GuessCharset, from up
// to kGuessHoldMax bytes of it): UTF-8 and EUC-JP are converted, the rest
// (ASCII, ISO-2022-JP, Shift-JIS) takes the classic line conversion.
//
// HTML without a text/plain part before it gets a plain-text rendering
// (HtmlTextRenderer) as a text/plain part in front of it; a message that is
// one HTML part becomes multipart/alternative of the two.
//
// A decoded line that the part walker would take for a delimiter of an
// enclosing multipart gets a blank in front.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/line_stream.h"

namespace zel {

// How one part (or the whole message) is written, read from its header.
struct PartPlan {
  enum class Kind {
    kAsIs,                // the classic line conversion
    kText,                // decoded
    kTextWithRendering,   // decoded, with a rendering of its HTML in front
    kMultipart,           // parts follow, delimited by `boundary`
    kGuessed,             // no MIME fields at all: its charset is guessed
  };
  enum class Transfer { kNone, kBase64, kQuotedPrintable };
  enum class Charset {
    kBytes,    // left as the bytes are (unknown, ASCII or no charset)
    kJis,      // ISO-2022-JP: the classic conversion, line by line
    kConvert,  // converted from `charsetLabel`
  };
  Kind kind = Kind::kAsIs;
  std::string boundary;
  Transfer transfer = Transfer::kNone;
  Charset charset = Charset::kBytes;
  std::string charsetLabel;  // as the Content-Type names it
  bool plainText = false;    // an inline text/plain part
  // The header lines that describe the decoded part, each written after
  // the "X-" copy of the field it replaces (empty: the field stays).
  std::string contentType;
  std::string transferEncoding;
};

// The most of a header-less body held to guess its charset from; the rest
// follows the guess made on it.
inline constexpr std::size_t kGuessHoldMax = 256 * 1024;

// planPart: the plan for the part whose raw header lines are `lines`
// (physical lines, each with its line feed; a line starting with a blank
// or tab continues a field).
//   plainTextSeen  an inline text/plain part came before in the message
//   depth          nesting depth (0: the message itself); from
//                  kMaxPartDepth on a multipart is written as it stands
PartPlan planPart(const std::vector<std::string>& lines, bool plainTextSeen, int depth);

// writePartHeader: writes the display lines `lines` of a header (each with
// its line feed, a continuation line after the line it continues) with the
// Content-Type and Content-Transfer-Encoding fields the plan replaces
// turned into "X-" copies, each followed by its new line.
// Returns false when a write fails.
bool writePartHeader(const std::vector<std::string>& lines, const PartPlan& plan, LineSink& out);

// Writes a body: raw lines in, display lines out.
class BodyDecoder {
 public:
  // `top` is the message's own plan (planPart at depth 0).
  BodyDecoder(LineSink& out, const PartPlan& top);
  ~BodyDecoder();
  BodyDecoder(const BodyDecoder&) = delete;
  BodyDecoder& operator=(const BodyDecoder&) = delete;

  // One raw body line with its line feed (the last may lack it), already
  // dot-unstuffed. Returns false when a write fails.
  bool line(std::string_view raw);
  // Ends the body. Returns false when a write fails.
  bool finish();

 private:
  class TextPart;
  struct Level;
  enum class Where { kPreamble, kHeader, kBody, kEpilogue };

  bool classic(std::string_view raw);     // a line as the classic decoder writes it
  bool classicLines(std::string_view raw);  // several lines, each on its own
  bool decideGuess();                     // ends the holding of a kGuessed body
  bool writeRaw(std::string_view text);
  bool writeText(std::string_view text);  // decoded lines, delimiters guarded
  bool endPart();
  bool startBody();
  int delimiterLevel(std::string_view raw) const;  // innermost first; -1: none

  LineSink& out_;
  std::vector<std::string> boundaries_;  // the open multiparts, outermost first
  Where where_ = Where::kBody;
  PartPlan part_;                        // the plan of the part being written
  std::vector<std::string> header_;      // a part header being read
  std::size_t headerBytes_ = 0;
  bool headerAsIs_ = false;              // the header outgrew its limit
  std::unique_ptr<TextPart> text_;       // the decoding of a text part
  bool plainTextSeen_ = false;
  bool guessing_ = false;                // a kGuessed body is being held
  std::string guessHeld_;
  bool lastFeed_ = true;  // the last byte written was a line feed
  bool ok_ = true;
};

}  // namespace zel
