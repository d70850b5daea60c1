// The outgoing message builder.
#include "codec/message_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "charset/jis_convert.h"
#include "charset/utf8_text.h"
#include "codec/base64.h"
#include "codec/dot_stuffing_sink.h"
#include "codec/encoded_word.h"
#include "codec/header_text.h"
#include "codec/mime_params.h"
#include "codec/rfc822_date.h"
#include "platform/ascii_case.h"
#include "platform/sjis_text.h"

namespace zel {
namespace {

// What happens to a header line of the send file (and its continuations).
enum class HeaderState {
  kOther,       // copied, encoded
  kTo,          // copied, adds recipients
  kCc,          // copied unless bare, adds recipients
  kBcc,         // dropped, adds recipients
  kDropped,     // never reaches the message
  kAttachment,  // dropped, names an attachment
};

struct HeaderRule {
  const char* name;
  HeaderState state;
};

// Matched in this order, without regard to case, against the line's start.
// The send file's own Date and Message-Id are dropped: the generated ones
// stand first, and a message with two of either is refused by strict servers.
constexpr HeaderRule kHeaderRules[] = {
    {"To:", HeaderState::kTo},
    {"Cc:", HeaderState::kCc},
    {"Bcc:", HeaderState::kBcc},
    {"Date:", HeaderState::kDropped},
    {"Message-Id:", HeaderState::kDropped},
    {"From:", HeaderState::kDropped},
    {"Subject:", HeaderState::kOther},
    {"Content-Transfer-Encoding:", HeaderState::kDropped},
    {"Content-Type:", HeaderState::kDropped},
    {"X-zel-", HeaderState::kDropped},
    {"X-AttachmentFile:", HeaderState::kAttachment},
};

bool EndsWithLineFeed(std::string_view text) { return !text.empty() && text.back() == '\n'; }

// Fields of addresses besides To and Cc (and the generated From): in UTF-8
// a run of their display names stays one encoded word.
constexpr const char* kAddressFields[] = {
    "Reply-To:",   "Sender:",    "Resent-From:", "Resent-Sender:", "Resent-To:",
    "Resent-Cc:",  "Errors-To:", "Return-Receipt-To:", "Disposition-Notification-To:",
};

// The byte-order mark a UTF-8 send file may begin with.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Bytes of a UTF-8 body encoded per write (whole base64 lines).
constexpr std::size_t kUtf8BodyBlock = kAttachmentLineBytes * kAttachmentLinesPerRead;

// True when `line` begins with a field name: printable ASCII characters
// other than ":" (RFC 5322 ftext), at least one, then ":".
bool BeginsWithFieldName(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] > ' ' && line[i] < 0x7F && line[i] != ':') ++i;
  return i > 0 && i < line.size() && line[i] == ':';
}

// Position of the first line feed or CR of `text`, or npos. Two memchr
// scans: find_first_of would test every byte against the set one by one.
std::size_t LineEndIn(std::string_view text) {
  const std::size_t feed = text.find('\n');
  const std::size_t cr = text.substr(0, feed).find('\r');
  return cr != std::string_view::npos ? cr : feed;
}

// True for a line that holds nothing but blanks, tabs and its line feed.
bool OnlyBlanks(std::string_view line) { return line.find_first_not_of(" \t\n") == std::string_view::npos; }

// A file name without its control bytes (no trail byte is one).
std::string FileNameText(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (const char c : name) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  }
  return out;
}

// The file name for the quoted filename parameter: `"` and `\` as quoted
// pairs. A double-byte character is copied whole (its trail byte may be
// 0x5C) and goes out inside an encoded word.
std::string QuotedFileName(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 8);
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (IsSjisLead(c) && i + 1 < name.size() && isJisTrail(static_cast<unsigned char>(name[i + 1]))) {
      out.append(name.substr(i++, 2));
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += static_cast<char>(c);
  }
  return out;
}

// trimBlanks over a copy: tabs and line feeds as blanks, outer blanks removed.
std::string Trimmed(std::string_view text) {
  std::string copy(text);
  return trimBlanks(copy.data());
}

// Calls `item` for every non-empty item of a TAB/LF separated list.
template <typename F>
bool ForEachListItem(std::string_view list, F item) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of("\t\n", start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start && !item(list.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// `text` without its control bytes other than TAB. The identity comes from
// the host: a CR or LF inside it would split a generated header line, and a
// lone "." line there would end the SMTP data early. Shift-JIS trail bytes
// are never below 0x40, so no character is cut.
std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
  }
  return out;
}

// `text` with printable ASCII only, for the parts of the Message-Id (no
// encoded word may stand there, and no byte of 0x80 or above in a header).
std::string PrintableAscii(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c > ' ' && c < 0x7F) out += c;
  }
  return out;
}

// Characters base64Lines writes for `n` bytes, the NUL after them included.
constexpr std::size_t base64LinesSize(std::size_t n) {
  return base64EncodedSize(n) + n / kAttachmentLineBytes + 2;
}

// Writes `n` bytes as base64 lines of 72 characters (54 bytes each, the last
// line shorter), each ending with a line feed. `text` holds at least
// base64LinesSize(n) characters. Returns the characters written.
std::size_t base64Lines(const unsigned char* data, std::size_t n, char* text) {
  std::size_t length = 0;
  for (std::size_t offset = 0; offset < n; offset += kAttachmentLineBytes) {
    const std::size_t block = n - offset < kAttachmentLineBytes ? n - offset : kAttachmentLineBytes;
    length += base64Encode(data + offset, block, text + length);
    text[length++] = '\n';
  }
  return length;
}

}  // namespace

std::string_view AttachmentFileName(std::string_view path, bool windowsSeparators) {
  std::size_t cut = std::string_view::npos;
  if (windowsSeparators) {
    for (std::size_t i = 0; i < path.size();) {
      const unsigned char c = static_cast<unsigned char>(path[i]);
      if (c == '\\' || c == '/') cut = i;
      i += IsSjisLead(c) && i + 1 < path.size() ? 2 : 1;
    }
  } else {
    cut = path.rfind('/');
  }
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string_view AttachmentFileName(std::string_view path) {
#ifdef _WIN32
  return AttachmentFileName(path, true);
#else
  return AttachmentFileName(path, false);
#endif
}

MessageBuilder::MessageBuilder(const Clock& clock) : clock_(clock) {}

void MessageBuilder::start(bool utf8) {
  utf8_ = utf8 || charset == MessageCharset::kUtf8;
  stop_ = Stop::kNone;
  invalidLine_ = 0;
}

bool MessageBuilder::convert(CharsetConverter& which, CharsetConverter::Direction direction,
                             std::string_view text, std::string& out, std::size_t* replaced) {
  if (!which.IsOpen() && !which.Open("UTF-8", direction)) {
    stop_ = Stop::kNoConverter;
    return false;
  }
  const std::size_t n = which.Convert(text, out, true);
  if (replaced != nullptr) *replaced = n;
  return true;
}

bool MessageBuilder::messageText(std::string_view piece, std::string_view& text) {
  const bool utf8File = sendFileCharset == SendFileCharset::kUtf8;
  text = piece;
  if (utf8File == utf8_) return true;
  text_.clear();
  if (!utf8File) {
    if (!convert(fromCp932_, CharsetConverter::Direction::kFromCp932, piece, text_)) return false;
    text = text_;
    return true;
  }
  // UTF-8 for ISO-2022-JP: carried only when CP932 holds every character
  // and gives each back unchanged (CP932 has one code for U+301C and
  // U+FF5E, say, and gives back the second).
  std::string back;
  std::size_t lost = 0, lostBack = 0;
  if (!convert(toCp932_, CharsetConverter::Direction::kToCp932, piece, text_, &lost) ||
      !convert(fromCp932_, CharsetConverter::Direction::kFromCp932, text_, back, &lostBack)) {
    return false;
  }
  if (lost != 0 || lostBack != 0 || back != piece) {
    stop_ = Stop::kNotCarried;
    return false;
  }
  text = text_;
  return true;
}

bool MessageBuilder::hostMessageText(std::string_view host, std::string& out) {
  out.clear();
  if (utf8_) return convert(fromCp932_, CharsetConverter::Direction::kFromCp932, host, out);
  out.assign(host);
  return true;
}

bool MessageBuilder::appendHostText(std::string_view piece, std::string& out) {
  // A character CP932 lacks becomes 〓 here: the recipients' addresses and
  // the attachment paths are host text.
  if (sendFileCharset == SendFileCharset::kUtf8) {
    return convert(toCp932_, CharsetConverter::Direction::kToCp932, piece, out);
  }
  out.append(piece);
  return true;
}

bool MessageBuilder::encodeHeader(std::string_view text, std::string& out) {
  if (utf8_) {
    out = encodeUtf8HeaderPart(text, utf8Fold_);
    return true;
  }
  bool carried = true;
  out = encodeHeaderPart(text, estimate_, &carried, {.whole = !classic(), .addresses = addressLine_});
  if (!carried) stop_ = Stop::kNotCarried;
  return carried;
}

void MessageBuilder::startHeaderLine(bool wholeRuns) {
  estimate_ = 0;
  addressLine_ = wholeRuns;
  utf8Fold_ = {.wholeRuns = wholeRuns, .wholeWords = !classic()};
}

bool MessageBuilder::attachmentFields(std::string_view path, std::string& out) {
  static constexpr std::string_view kType = "Content-Type: application/octet-stream";
  static constexpr std::string_view kEncoding = "Content-Transfer-Encoding: base64\n";
  static constexpr std::string_view kDisposition = "Content-Disposition: attachment;";
  const std::string name = FileNameText(AttachmentFileName(path));
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
  out.assign(kType).append("\n").append(kEncoding);
  if (classic() || ascii) {
    std::string disposition(kDisposition);
    disposition.append(" filename=\"").append(QuotedFileName(name)).append("\"\n");
    std::string text, encoded;
    startHeaderLine(true);
    if (!hostMessageText(disposition, text) || !encodeHeader(text, encoded)) return false;
    out += encoded;
    return true;
  }
  // The name in its RFC 2231 form, which readers take before any other,
  // alone in Content-Disposition: beside it a plain filename would make
  // some readers (s-nail) drop both as faulty and others (mblaze, Python's
  // compat32 API) prefer the plain one. Old readers that know no RFC 2231
  // find the name as one encoded word in Content-Type (a `"` or `\`
  // inside a word needs no quoted pair).
  std::string utf8, word;
  if (!convert(fromCp932_, CharsetConverter::Direction::kFromCp932, name, utf8)) return false;
  if (utf8_) {
    word = encodeUtf8Word(utf8);
  } else {
    bool carried = true;
    word = encodeIso2022JpWord(name, carried);
    if (!carried) {
      stop_ = Stop::kNotCarried;
      return false;
    }
  }
  out.assign(kType).append(";\n name=\"").append(word).append("\"\n").append(kEncoding);
  out.append(kDisposition).append("\n").append(extendedParameterLines("filename", utf8));
  return true;
}

bool MessageBuilder::hasAttachments() const {
  return attachmentList.find_first_not_of("\t\n") != std::string::npos;
}

bool MessageBuilder::nextPiece(LineSource& sendFile) {
  for (;;) {
    // One read tops the held bytes up to a full piece unless they hold a
    // line end already. fgets semantics: a read that is neither full nor
    // ended by a line feed met the end of the file.
    if (!sourceEnded_ && pending_.size() < kSendFileReadSize - 1 &&
        LineEndIn(pending_) == std::string::npos) {
      char buffer[kSendFileReadSize];
      const std::size_t room = kSendFileReadSize - pending_.size();
      const std::size_t got = sendFile.readLine(buffer, room);
      if (got < room - 1 && (got == 0 || buffer[got - 1] != '\n')) sourceEnded_ = true;
      pending_.append(buffer, got);
    }
    if (pending_.empty()) return false;
    const std::size_t end = LineEndIn(pending_);
    if (end + 1 == pending_.size() && pending_[end] == '\n') {
      // The usual case: the held bytes are one line to its line feed.
      piece_.swap(pending_);
      pending_.clear();
    } else if (end != std::string::npos) {
      // The line ends here, at a line feed, a CR LF or a CR alone.
      piece_.assign(pending_, 0, end);
      piece_ += '\n';
      std::size_t used = end + 1;
      if (pending_[end] == '\r') {
        if (used < pending_.size()) {
          if (pending_[used] == '\n') ++used;
        } else if (!sourceEnded_ && sendFile.peek() == '\n') {
          char lineFeed[2];
          sendFile.readLine(lineFeed, sizeof lineFeed);
        }
      }
      pending_.erase(0, used);
    } else {
      // A full piece that stops inside the line may stop inside a
      // character: its first bytes wait for the next piece.
      const std::size_t keep = sourceEnded_                                     ? pending_.size()
                               : sendFileCharset == SendFileCharset::kUtf8 ? utf8WholeCharsLength(pending_)
                                                                           : SjisWholeCharsLength(pending_);
      piece_.assign(pending_, 0, keep);
      pending_.erase(0, keep);
    }
    if (piece_.find('\0') != std::string::npos) std::erase(piece_, '\0');
    if (sendFileCharset == SendFileCharset::kUtf8) {
      if (fileStart_ && piece_.starts_with(kUtf8Bom)) piece_.erase(0, kUtf8Bom.size());
      if (utf8InvalidAt(piece_) != std::string::npos) {
        stop_ = Stop::kInvalidUtf8;
        invalidLine_ = nextLine_;
        return false;
      }
    }
    fileStart_ = false;
    if (EndsWithLineFeed(piece_)) ++nextLine_;
    if (!piece_.empty()) return true;
  }
}

bool MessageBuilder::writeGenerated(LineSink& out) {
  const std::int64_t now = clock_.now();
  if (!out.write(formatDateLine(clock_, now))) return false;

  // Twelve digits, year to minute.
  std::tm local{};
  if (!clock_.localTime(now, local)) local = std::tm{};
  char minute[32];
  std::snprintf(minute, sizeof minute, "%04d%02d%02d%02d%02d",
                (local.tm_year + 1900) % 10000, (local.tm_mon + 1) % 100, local.tm_mday % 100,
                local.tm_hour % 100, local.tm_min % 100);
  char stamps[32];
  std::snprintf(stamps, sizeof stamps, ".%08X.%08lX@", static_cast<unsigned>(stamp.tickCount),
                stamp.processId & 0xFFFFFFFFUL);
  std::string id = "Message-Id: <";
  id.append(minute).append(stamps);
  id.append(PrintableAscii(identity.hostName)).append(".").append(PrintableAscii(identity.domain));
  id.append(">\n");
  if (!out.write(id)) return false;

  std::string from = "From: ";
  from.append(OneLine(identity.displayName))
      .append(" <")
      .append(OneLine(identity.mailAddress))
      .append(">\n");
  std::string text, encoded;
  startHeaderLine(true);
  return hostMessageText(from, text) && encodeHeader(text, encoded) && out.write(encoded);
}

bool MessageBuilder::writeMimeHeader(LineSink& out) {
  const char* const textPart = utf8_ ? "Content-Transfer-Encoding: base64\n"
                                       "Content-Type: text/plain; charset=UTF-8\n"
                                       "\n"
                                     : "Content-Transfer-Encoding: 7bit\n"
                                       "Content-Type: text/plain; charset=iso-2022-jp\n"
                                       "\n";
  if (!hasAttachments()) return out.write(std::string("MIME-Version: 1.0\n") + textPart);
  char text[kBoundarySize];
  std::snprintf(text, sizeof text, "--------%08X%08X",
                static_cast<unsigned>(static_cast<std::uint64_t>(clock_.now()) & 0xFFFFFFFFU),
                static_cast<unsigned>(stamp.tickCount));
  boundary = text;
  std::string header =
      "MIME-Version: 1.0\n"
      "Content-Type: multipart/mixed;\n"
      "\tboundary=\"";
  header.append(boundary).append(
      "\"\n"
      "\n"
      "This is multipart message.\n"
      "\n"
      "--");
  header.append(boundary).append("\n").append(textPart);
  return out.write(header);
}

int MessageBuilder::composeHeader(LineSource& sendFile, LineSink& out) {
  recipients.clear();
  boundary.clear();
  pending_.clear();
  sourceEnded_ = false;
  fileStart_ = true;
  nextLine_ = 1;
  if (!writeGenerated(out)) return 0;

  // No field yet: a continuation before the first field belongs to none.
  HeaderState state = HeaderState::kDropped;
  bool addresses = false;  // the field holds addresses (and display names)
  while (nextPiece(sendFile)) {
    // Every pass starts at the beginning of a line.
    if (piece_ == "\n" || piece_[0] == '-') {
      // The line that ends the header, with all its pieces.
      while (!EndsWithLineFeed(piece_) && nextPiece(sendFile)) {
      }
      break;
    }
    std::size_t nameLength = 1;  // a continuation's first character
    bool addBlank = false;
    if (piece_[0] != ' ' && piece_[0] != '\t') {
      nameLength = 0;
      const HeaderRule* match = nullptr;
      for (const HeaderRule& rule : kHeaderRules) {
        if (startsWithNoCase(piece_, rule.name)) {
          match = &rule;
          break;
        }
      }
      if (match != nullptr) {
        state = match->state;
        addresses = state == HeaderState::kTo || state == HeaderState::kCc;
        nameLength = std::strlen(match->name);
      } else if (BeginsWithFieldName(piece_)) {
        state = HeaderState::kOther;
        addresses = std::any_of(std::begin(kAddressFields), std::end(kAddressFields),
                                [this](const char* name) { return startsWithNoCase(piece_, name); });
      } else {
        // No field name (a value with a line break in it): the line
        // continues the field before, with the blank it lacks.
        addBlank = true;
      }
    }
    const bool collects =
        state == HeaderState::kTo || state == HeaderState::kCc || state == HeaderState::kBcc;
    const bool copied =
        state == HeaderState::kOther || state == HeaderState::kTo || state == HeaderState::kCc;
    const bool gathers = copied || state == HeaderState::kAttachment;
    if (collects) {
      if (!recipients.empty()) recipients += ',';
      if (!appendHostText(std::string_view(piece_).substr(nameLength), recipients)) return 0;
    }
    // The rest of a long line keeps the classification of its first piece.
    std::string line;
    if (gathers) line.append(addBlank ? " " : "").append(piece_);
    bool split = false;  // part of the line was written already
    startHeaderLine(addresses);  // the fold position, carried from part to part
    while (!EndsWithLineFeed(piece_) && nextPiece(sendFile)) {
      if (collects && !appendHostText(piece_, recipients)) return 0;
      if (!gathers) continue;
      line += piece_;
      if (copied && line.size() >= kHeaderGatherLimit) {
        if (!writeHeaderText(line, out)) return 0;
        line.clear();
        split = true;
      }
    }
    if (stop_ != Stop::kNone) return 0;
    if (state == HeaderState::kAttachment) {
      std::string path;
      if (!appendHostText(Trimmed(std::string_view(line).substr(nameLength)), path)) return 0;
      if (!path.empty()) {
        if (!attachmentList.empty()) attachmentList += '\t';
        attachmentList += path;
      }
      continue;
    }
    if (!copied) continue;
    // A bare "Cc:" (three characters once trimmed) is dropped, and so is a
    // continuation of blanks alone, which a reader may take for the end of
    // the header.
    if (!split && state == HeaderState::kCc && Trimmed(line).size() == 3) continue;
    if (!split && OnlyBlanks(line)) continue;
    // A last header line without its line feed must not run into the next.
    if (!EndsWithLineFeed(line)) line += '\n';
    if (!writeHeaderText(line, out)) return 0;
  }
  if (stop_ != Stop::kNone) return 0;
  // ISO-2022-JP must carry the attachment names too: known now, before
  // anything of the body is written.
  if (!utf8_) {
    std::string encoded;
    const bool carried = ForEachListItem(attachmentList, [&](std::string_view path) {
      return attachmentFields(path, encoded);
    });
    if (!carried) return 0;
  }
  return writeMimeHeader(out) ? 1 : 0;
}

bool MessageBuilder::writeHeaderText(std::string_view piece, LineSink& out) {
  std::string_view text;
  std::string encoded;
  return messageText(piece, text) && encodeHeader(text, encoded) && out.write(encoded);
}

int MessageBuilder::composeBody(LineSource& sendFile, LineSink& out) {
  if (utf8_) return writeUtf8Body(sendFile, out) ? 1 : 0;
  std::vector<char> jis(sjisToJisBound(kSendFileReadSize));
  bool ended = true;
  while (nextPiece(sendFile)) {
    std::string_view text = piece_;
    if (sendFileCharset == SendFileCharset::kUtf8 && !messageText(piece_, text)) return 0;
    // Shift-JIS is never longer than the UTF-8 it came from.
    const std::size_t n =
        cp932ToIso2022Jp(text.data(), text.size(), jis.data(),
                         classic() ? Iso2022JpRepertoire::kExtended : Iso2022JpRepertoire::kJisX0208);
    if (n == kNotCarried) {
      stop_ = Stop::kNotCarried;
      return 0;
    }
    if (!out.write(std::string_view(jis.data(), n))) return 0;
    ended = EndsWithLineFeed(piece_);
  }
  if (stop_ != Stop::kNone) return 0;
  if (!ended && !out.write("\n")) return 0;
  return 1;
}

bool MessageBuilder::writeUtf8Body(LineSource& sendFile, LineSink& out) {
  // The text in its canonical form (lines end CR LF) as base64 lines;
  // whole lines of base64 are written as the text comes, the rest waits.
  std::string canonical;
  std::vector<char> lines;
  const auto writeLines = [&](std::size_t n) {
    if (n == 0) return true;
    lines.resize(base64LinesSize(n));
    const std::size_t length =
        base64Lines(reinterpret_cast<const unsigned char*>(canonical.data()), n, lines.data());
    canonical.erase(0, n);
    return out.write(std::string_view(lines.data(), length));
  };
  bool ended = true;
  while (nextPiece(sendFile)) {
    std::string_view text;
    if (!messageText(piece_, text)) return false;
    ended = EndsWithLineFeed(text);
    canonical.append(text.substr(0, text.size() - (ended ? 1 : 0)));
    if (ended) canonical.append("\r\n");
    if (canonical.size() >= kUtf8BodyBlock &&
        !writeLines(canonical.size() / kAttachmentLineBytes * kAttachmentLineBytes)) {
      return false;
    }
  }
  if (stop_ != Stop::kNone) return false;
  if (!ended) canonical.append("\r\n");
  return writeLines(canonical.size());
}

int MessageBuilder::composePartHeader(std::string_view path, LineSink& out) {
  std::string header = "\n--";
  header.append(boundary).append("\n");
  std::string fields;
  if (!attachmentFields(path, fields)) return 0;
  header.append(fields).append("\n");
  return out.write(header) ? 1 : 0;
}

int MessageBuilder::composeAttachment(ByteSource& file, LineSink& out) {
  constexpr std::size_t kReadSize = kAttachmentLineBytes * kAttachmentLinesPerRead;
  std::vector<unsigned char> data(kReadSize);
  std::vector<char> text(base64LinesSize(kReadSize));
  for (;;) {
    const std::size_t n = file.read(data.data(), kReadSize);
    const std::size_t length = base64Lines(data.data(), n, text.data());
    if (length > 0 && !out.write(std::string_view(text.data(), length))) return 0;
    // A short read is the end of the file or a read error (a folder named as
    // an attachment reads as an error): either way nothing more comes.
    if (n < kReadSize) break;
  }
  return file.failed() ? 0 : 1;
}

int MessageBuilder::composeClosing(LineSink& out) {
  std::string closing = "\n--";
  closing.append(boundary).append("--\n");
  return out.write(closing) ? 1 : 0;
}

int MessageBuilder::composeEnd(LineSink& out) { return out.write(".\n") ? 1 : 0; }

namespace {

// One attempt at the whole message in the builder's charset.
ComposeResult composeOnce(MessageBuilder& builder, LineSource& sendFile, LineSink& out,
                          AttachmentOpener& attachments, const std::function<bool()>& stepEnd) {
  const auto ended = [&stepEnd] { return !stepEnd || stepEnd(); };
  // Every step but the end line writes through the dot-stuffing.
  DotStuffingSink data(out);
  ComposeResult result;
  if (!builder.composeHeader(sendFile, data) || !ended()) {
    result.failure = ComposeFailure::kHeader;
    result.invalidLine = builder.invalidLine();
    return result;
  }
  if (!builder.composeBody(sendFile, data) || !ended()) {
    result.failure = ComposeFailure::kBody;
    result.invalidLine = builder.invalidLine();
    return result;
  }
  if (builder.hasAttachments()) {
    const bool allWritten = ForEachListItem(builder.attachmentList, [&](std::string_view path) {
      result.path.assign(path);
      if (!builder.composePartHeader(path, data)) {
        result.failure = ComposeFailure::kAttachment;
        return false;
      }
      const std::unique_ptr<ByteSource> file = attachments.open(path);
      if (!file) {
        result.failure = ComposeFailure::kAttachmentOpen;
        return false;
      }
      if (!builder.composeAttachment(*file, data) || !ended()) {
        result.failure = ComposeFailure::kAttachment;
        return false;
      }
      return true;
    });
    if (!allWritten) return result;
    if (!builder.composeClosing(data) || !ended()) {
      result.failure = ComposeFailure::kAttachment;
      return result;
    }
    result.path.clear();
  }
  if (!MessageBuilder::composeEnd(out) || !ended()) result.failure = ComposeFailure::kBody;
  return result;
}

}  // namespace

ComposeResult composeMessage(MessageBuilder& builder, RewindableSource& sendFile,
                             RewindableSink& out, AttachmentOpener& attachments,
                             const std::function<bool()>& stepEnd) {
  const std::string callerList = builder.attachmentList;
  builder.start(false);
  ComposeResult result = composeOnce(builder, sendFile, out, attachments, stepEnd);
  if (builder.stop() != MessageBuilder::Stop::kNotCarried) return result;
  // ISO-2022-JP cannot carry the text: the whole message anew, in UTF-8.
  result = {};
  if (!sendFile.rewind()) {
    result.failure = ComposeFailure::kSendFile;
    return result;
  }
  if (!out.rewind()) {
    result.failure = ComposeFailure::kHeader;
    return result;
  }
  builder.attachmentList = callerList;
  builder.start(true);
  return composeOnce(builder, sendFile, out, attachments, stepEnd);
}

}  // namespace zel
