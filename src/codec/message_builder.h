// The outgoing message builder: a send file (Shift-JIS header and body) and
// its attachments become one RFC 822/MIME message in ISO-2022-JP, stored as
// the DATA phase of SMTP (dot-stuffed, ending with the "." line).
//
// Text ISO-2022-JP cannot carry (jis_repertoire.h: JIS X 0208, or with
// "ISO-2022-JP-EXT" also NEC row 13), a send file in UTF-8 holding such
// text, or the charset option UTF-8 make the message UTF-8 instead:
// "=?UTF-8?B?" words in the header and the file names, the text body in
// base64. Encoded words stand whole between blanks, and a file name that
// is not ASCII goes in its RFC 2231 form (UTF-8), with the encoded word old
// readers look for in Content-Type; "ISO-2022-JP-EXT" writes them as
// Japanese mail programs always have (words glued to the ASCII beside
// them, the words inside the quoted filename). No byte of 0x80 or above ever stands in
// a header line or in a part labelled 7bit.
//
// The send file is read as lines: a line feed, a CR LF and a CR alone each
// end a line (servers that take a bare CR for a line end must see the same
// lines as the others), and NUL bytes are dropped.
//
// The builder reads and writes only the streams handed to it; the send
// operation opens the files and maps a failed step to its error number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "charset/charset_convert.h"
#include "codec/clock.h"
#include "codec/encoded_word.h"
#include "codec/line_stream.h"

namespace zel {

// One read of the send file, as the C library's fgets gives it (1,023 bytes
// and the NUL); a longer line comes in several pieces of one line.
inline constexpr std::size_t kSendFileReadSize = 1024;

// A copied header line is gathered whole up to this size before it is
// encoded, so that a Japanese run is never cut into two encoded words; a
// longer line (no real header is) is encoded in parts of this size.
inline constexpr std::size_t kHeaderGatherLimit = 64 * 1024;

// Attachment bytes per base64 line: 54 bytes give 72 characters.
inline constexpr std::size_t kAttachmentLineBytes = 54;

// Base64 lines encoded per read of an attachment (one read, one write).
inline constexpr std::size_t kAttachmentLinesPerRead = 1024;

// The bytes of one attachment.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to `n` bytes into `buffer`. Returns the count read; fewer than
  // `n` means the end of the file or a read error (see failed()).
  virtual std::size_t read(void* buffer, std::size_t n) = 0;

  // True after a read error.
  virtual bool failed() const = 0;
};

// Opens the attachments named by the send.
class AttachmentOpener {
 public:
  virtual ~AttachmentOpener() = default;

  // Opens `path` (host text) for reading bytes. Returns nullptr on failure.
  virtual std::unique_ptr<ByteSource> open(std::string_view path) = 0;
};

// The charset of the messages (option CHARSET).
enum class MessageCharset {
  kIso2022Jp,     // ISO-2022-JP (JIS X 0208) where it carries all of the text, else UTF-8
  kUtf8,          // UTF-8 always
  kIso2022JpExt,  // the classic builder: ISO-2022-JP with NEC row 13 where it
                  // carries all of the text, else UTF-8; classic encoded words
};

// The charset of the send file's text (option SENDFILECHARSET).
enum class SendFileCharset {
  kShiftJis,  // code page 932, the host's text
  kUtf8,      // UTF-8; a byte-order mark at its start is skipped
};

// The sender's identity: the session's hostName, domain, displayName and
// mailAddress (Shift-JIS).
struct SenderIdentity {
  std::string_view hostName;
  std::string_view domain;
  std::string_view displayName;
  std::string_view mailAddress;
};

// Values of the process at the time of a build, for the Message-Id and the
// boundary: milliseconds since system start and the process identifier.
struct ComposeStamp {
  std::uint32_t tickCount = 0;
  unsigned long processId = 0;
};

// AttachmentFileName - the name an attachment goes out under.
//
// Input:  `path` (host text); `windowsSeparators` true to take "\" as well as
//         "/" as the separator, searched Shift-JIS-aware (a trail byte 0x5C
//         is no separator); false for "/" only.
// Output: the text after the last separator, or the whole path.
std::string_view AttachmentFileName(std::string_view path, bool windowsSeparators);

// The separators of this platform (Windows: "\" and "/"; POSIX: "/").
std::string_view AttachmentFileName(std::string_view path);

class MessageBuilder {
 public:
  // `clock` gives the Date, the Message-Id time and the boundary; it must
  // outlive the builder.
  explicit MessageBuilder(const Clock& clock);

  // Who sends and the process values; set before each build.
  SenderIdentity identity;
  ComposeStamp stamp;

  // The charsets of the message and of the send file; set before a build.
  MessageCharset charset = MessageCharset::kIso2022Jp;
  SendFileCharset sendFileCharset = SendFileCharset::kShiftJis;

  // Attachment paths separated by TAB or LF; the caller's list before
  // composeHeader, extended by the send file's "X-AttachmentFile:" lines.
  std::string attachmentList;

  // The boundary of the message ("--------" and 16 hexadecimal digits),
  // made by composeHeader when the message has attachments.
  std::string boundary;

  // The recipients collected by composeHeader: the texts of the To, Cc and
  // Bcc lines after their names (continuations after their first
  // character), joined by ",", blanks and line feeds kept.
  std::string recipients;

  // True when attachmentList names at least one file.
  bool hasAttachments() const;

  // True when the message being built is UTF-8 (else ISO-2022-JP).
  bool utf8() const { return utf8_; }

  // Why the last compose step returned 0 without a failed write.
  enum class Stop {
    kNone,
    kNotCarried,   // ISO-2022-JP cannot carry the text: compose it as UTF-8
    kInvalidUtf8,  // a line of a UTF-8 send file is no UTF-8 (invalidLine)
    kNoConverter,  // this platform cannot convert UTF-8
  };
  Stop stop() const { return stop_; }

  // The number of the send file's line that stopped the build (kInvalidUtf8).
  std::size_t invalidLine() const { return invalidLine_; }

  // Starts a build: ISO-2022-JP unless `utf8` or the charset option says
  // UTF-8. composeMessage calls it; a caller of the single steps first.
  void start(bool utf8);

  // composeHeader - the message header.
  // Reads the send file's header section (up to an empty line, a lone line
  // feed, a line beginning with "-", or the end), writes the generated Date,
  // Message-Id and From lines, the send file's header lines that are copied
  // (encoded), and the MIME header; with attachments also the multipart
  // preamble and the header of the text part. Every header line of the
  // message begins with a field name or a blank: a send-file line without a
  // field name continues the field before it (as if it began with the
  // blank it lacks), and a continuation of blanks alone is left out.
  // Returns 1; 0 when writing fails or the build stops (see stop()): in
  // ISO-2022-JP that happens before any text ISO-2022-JP cannot carry is
  // written, the attachment names included.
  int composeHeader(LineSource& sendFile, LineSink& out);

  // composeBody - the text body: every further line of the send file in
  // ISO-2022-JP (or, in UTF-8, as base64 of its CR LF lines), the last one
  // ending with a line feed.
  // Returns 1; 0 when writing fails or the build stops (see stop()).
  int composeBody(LineSource& sendFile, LineSink& out);

  // composePartHeader - the delimiter and headers of one attachment part
  // named after the last component of `path`, control bytes left out: an
  // ASCII name as the quoted filename (a `"` or `\` as a quoted pair),
  // another as "filename*" (RFC 2231, UTF-8, in pieces of lines under 78
  // characters) and as one encoded word in the quoted "name" of
  // Content-Type; with "ISO-2022-JP-EXT" always the quoted filename,
  // encoded as a header line.
  // Returns 1; 0 when writing fails or the build stops (see stop()).
  int composePartHeader(std::string_view path, LineSink& out);

  // composeAttachment - the bytes of `file` as base64 lines of 72
  // characters (the last shorter), until the end of the file.
  // Returns 1; 0 when reading or writing fails.
  int composeAttachment(ByteSource& file, LineSink& out);

  // composeClosing - the closing delimiter after the last part.
  // Returns 1; 0 when writing fails.
  int composeClosing(LineSink& out);

  // composeEnd - the SMTP end-of-data line ".". Returns 1; 0 on failure.
  static int composeEnd(LineSink& out);

 private:
  // Reads the next piece of the send file into piece_ (at most 1,023 bytes,
  // never ending between the bytes of a double-byte character, ending with
  // a line feed where the line ends, whatever ended it; no NUL bytes).
  // Returns false at the end of the file.
  bool nextPiece(LineSource& sendFile);

  bool writeGenerated(LineSink& out);
  bool writeMimeHeader(LineSink& out);
  bool writeUtf8Body(LineSource& sendFile, LineSink& out);
  // Encodes and writes send-file text of a header line (or of a part of one).
  bool writeHeaderText(std::string_view piece, LineSink& out);

  // The helpers below return false when the build stops (stop_ says why).
  // Send-file text as the message's text: CP932 for ISO-2022-JP, UTF-8 for
  // UTF-8; `text` is `piece` itself or a view of text_.
  bool messageText(std::string_view piece, std::string_view& text);
  // Host text (CP932) as the message's text, into `out`.
  bool hostMessageText(std::string_view host, std::string& out);
  // Send-file text as host text (recipients, attachment paths), appended.
  bool appendHostText(std::string_view piece, std::string& out);
  // One header line (or part) of message text, encoded into `out`.
  bool encodeHeader(std::string_view text, std::string& out);
  // Starts the fold position of a new header line; `wholeRuns` for fields
  // of addresses and file names (see Utf8HeaderFold).
  void startHeaderLine(bool wholeRuns = false);
  // The Content-Type, Content-Transfer-Encoding and Content-Disposition
  // lines of the attachment `path`, encoded.
  bool attachmentFields(std::string_view path, std::string& out);
  // True for the classic encoded words and repertoire (ISO-2022-JP-EXT).
  bool classic() const { return charset == MessageCharset::kIso2022JpExt; }
  // Appends `text` converted by `which` (opened between UTF-8 and CP932
  // when first used) to `out`; `replaced` receives the replacements made.
  bool convert(CharsetConverter& which, CharsetConverter::Direction direction,
               std::string_view text, std::string& out, std::size_t* replaced = nullptr);

  const Clock& clock_;
  std::string piece_;
  std::string pending_;       // bytes read and not yet handed out as a piece
  bool sourceEnded_ = false;  // the send file has no more bytes
  bool fileStart_ = true;     // no piece was handed out yet
  std::size_t nextLine_ = 1;  // the send-file line the next piece belongs to
  bool utf8_ = false;
  Stop stop_ = Stop::kNone;
  std::size_t invalidLine_ = 0;
  int estimate_ = 0;          // fold position of a header line encoded in parts
  bool addressLine_ = false;  // the header line holds addresses
  Utf8HeaderFold utf8Fold_;
  std::string text_;          // scratch: message text of a piece
  CharsetConverter fromCp932_;  // CP932 -> UTF-8, opened when first needed
  CharsetConverter toCp932_;    // UTF-8 -> CP932, opened when first needed
};

// The steps of a build that can fail, for the caller's error numbers.
enum class ComposeFailure {
  kNone,
  kSendFile,        // the send file could not be read again from its start
  kHeader,          // writing the header failed, or a header line is no UTF-8
  kBody,            // writing the body or the end line failed, or a body line is no UTF-8
  kAttachmentOpen,  // an attachment could not be opened
  kAttachment,      // an attachment could not be read or written
};

struct ComposeResult {
  ComposeFailure failure = ComposeFailure::kNone;
  std::string path;         // the attachment of kAttachmentOpen / kAttachment
  std::size_t invalidLine = 0;  // kHeader / kBody: the send-file line that is no UTF-8
};

// composeMessage - the whole message in its DATA form: header, body, every
// attachment part and the closing delimiter, dot-stuffed all through (see
// DotStuffingSink), and the end line; stops at the first failing step.
// `builder` holds identity, stamp, the charsets and the caller's attachment
// list; afterwards its recipients, attachmentList and boundary are those of
// the message. A message begun in ISO-2022-JP whose text it cannot carry is
// composed anew as UTF-8: the send file is rewound and what was written to
// `out` discarded. `stepEnd`, when given, is called after the header, the
// body, each attachment part, the closing delimiter and the end line (a
// buffering sink flushes there); false fails that step, so a write that
// fails late is still the error of the step that wrote it.
ComposeResult composeMessage(MessageBuilder& builder, RewindableSource& sendFile,
                             RewindableSink& out, AttachmentOpener& attachments,
                             const std::function<bool()>& stepEnd = {});

}  // namespace zel
