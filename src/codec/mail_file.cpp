#include "codec/mail_file.h"

#include <cstring>

#include "platform/ascii_case.h"
#include "codec/base64.h"
#include "codec/binhex.h"
#include "codec/header_words.h"
#include "codec/mime_params.h"
#include "codec/header_text.h"
#include "codec/message_builder.h"
#include "codec/quoted_printable.h"
#include "charset/jis_convert.h"

namespace zel {

namespace {

// Reads a file in pieces of at most kPartLineSize - 1 bytes and tells a
// piece that starts a line from one that continues a longer line: only the
// former can be a delimiter, an empty line or a BinHex start.
class PieceReader {
 public:
  explicit PieceReader(SeekableSource& in) : in_(in) {}

  // Reads the next piece into `line`. Returns false at the end of the file.
  bool next() {
    continued = midLine_;
    length = in_.readLine(line, sizeof line);
    midLine_ = length > 0 && line[length - 1] != '\n';
    return length > 0;
  }

  // Reads to the end of the current line.
  void skipLine() {
    while (next() && line[length - 1] != '\n') {
    }
  }

  // True when the last piece read did not end its line.
  bool midLine() const { return midLine_; }

  // Consumes one byte (after a peek).
  void skipByte() {
    char two[2];
    in_.readLine(two, sizeof two);
  }

  // The current piece is a whole line holding only CR LF.
  bool emptyLine() const { return !continued && length == 2 && line[0] == '\r' && line[1] == '\n'; }

  std::string_view piece() const { return {line, length}; }

  char line[kPartLineSize];
  std::size_t length = 0;
  bool continued = false;

 private:
  SeekableSource& in_;
  bool midLine_ = false;
};

// Collects written bytes and hands them to the sink in large blocks.
class OutBuffer {
 public:
  explicit OutBuffer(ClosableSink& out) : out_(out) {}

  // Room for `need` (at most kSize) bytes at the end of the buffer.
  char* room(std::size_t need) {
    if (used_ + need > kSize) flush();
    return data_ + used_;
  }
  void commit(std::size_t n) { used_ += n; }
  void put(const char* p, std::size_t n) {
    while (n > 0) {
      const std::size_t k = n < kSize ? n : kSize;
      std::memcpy(room(k), p, k);
      commit(k);
      p += k;
      n -= k;
    }
  }
  bool flush() {
    if (used_ > 0 && !out_.write(std::string_view(data_, used_))) ok_ = false;
    used_ = 0;
    return ok_;
  }

 private:
  static constexpr std::size_t kSize = 64 * 1024;  // one write of the output file
  ClosableSink& out_;
  char data_[kSize];
  std::size_t used_ = 0;
  bool ok_ = true;
};

std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

// The value of the parameter `name` ("boundary=") found anywhere in the
// stripped field, or "".
std::string paramAfter(std::string_view field, std::string_view name) {
  const std::size_t at = findNoCase(field, name);
  if (at == std::string_view::npos) return {};
  return readParamValue(field.substr(at)).value_or(std::string());
}

// Decodes the pieces of base64 lines; a line read in several pieces is
// decoded exactly as base64DecodeLine decodes it whole.
class Base64Lines {
 public:
  explicit Base64Lines(OutBuffer& out) : out_(out) {}

  // Adds one piece; `lineEnds` when it holds the line's end (line end
  // characters already removed).
  void add(std::string_view piece, bool continued, bool lineEnds) {
    if (!continued && lineEnds) {
      const std::size_t n = base64DecodeLine(piece.data(), piece.size(), out_.room(kRoom));
      out_.commit(n);
      return;
    }
    std::memcpy(held_ + count_, piece.data(), piece.size());
    count_ += piece.size();
    if (lineEnds) {
      finish();
    } else if (count_ >= 8) {
      // Keep four to seven characters: the line's last group is among them.
      const std::size_t k = (count_ - 4) / 4 * 4;
      out_.commit(base64DecodeGroups(held_, k, out_.room(kRoom)));
      std::memmove(held_, held_ + k, count_ - k);
      count_ -= k;
    }
  }

  // Ends a line that was cut off (the end of the file or of the part).
  void finish() {
    if (count_ > 0 && held_[count_ - 1] == '\r') --count_;  // CR of a CR LF split between pieces
    if (count_ > 0) out_.commit(base64DecodeLine(held_, count_, out_.room(kRoom)));
    count_ = 0;
  }

 private:
  static constexpr std::size_t kRoom = (7 + kPartLineSize) / 4 * 3 + 3;  // bytes one call may write
  OutBuffer& out_;
  char held_[7 + kPartLineSize];
  std::size_t count_ = 0;
};

// The line end a saved text gets: the system's own, as the sender's file
// had it before its mail program wrote the text in CR LF lines.
#ifdef _WIN32
constexpr std::string_view kLocalLineEnd = "\r\n";
#else
constexpr std::string_view kLocalLineEnd = "\n";
#endif

// A line of a text part held before it is written: lines are short, but a
// longer one is written in pieces of this size.
constexpr std::size_t kTextLineHold = 64 * 1024;

// Writes the lines of a 7bit, 8bit or quoted-printable part as the file its
// sender attached: quoted-printable undone, each line end the system's own
// (a line whose text ends in CR, as =0D gives it, keeps that CR and gets a
// bare line feed), the last line end left out, as it belongs to the
// delimiter after the part. Text the display file holds in Shift-JIS that
// the part sent as ISO-2022-JP is converted back.
class TextLines {
 public:
  TextLines(OutBuffer& out, bool quotedPrintable, bool jis)
      : out_(out), quotedPrintable_(quotedPrintable), jis_(jis) {}

  // Adds one piece of a line.
  void add(std::string_view piece) {
    const bool ends = !piece.empty() && piece.back() == '\n';
    if (ends) piece.remove_suffix(1);
    line_.append(piece);
    if (ends) {
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      flushLine(true);
    } else if (line_.size() >= kTextLineHold) {
      flushLine(false);
    }
  }

  // Ends the part: a last line without its line end is written as it is.
  void finish() {
    if (!line_.empty()) flushLine(true);
    owedEnd_ = false;
  }

 private:
  // Writes the held line; `whole` when its end was read (its line end is
  // owed until more text follows).
  void flushLine(bool whole) {
    std::string text;
    bool hardEnd = whole;
    if (whole) {
      if (quotedPrintable_) {
        quotedPrintableDecodeLine(line_, true, text);
        hardEnd = !text.empty() && text.back() == '\n';
        if (hardEnd) text.pop_back();
      } else {
        text.swap(line_);
      }
      line_.clear();
    } else {
      // A piece of an overlong line: a last CR (it may end the line), a
      // lead byte (its character continues) and for quoted-printable an
      // unfinished "=XX" wait for the next piece.
      std::size_t cut = line_.size();
      if (line_.back() == '\r') --cut;
      if (quotedPrintable_) {
        const std::size_t eq = line_.find('=', cut >= 2 ? cut - 2 : 0);
        if (eq != std::string::npos && eq < cut) cut = eq;
        quotedPrintableDecodeLine(std::string_view(line_).substr(0, cut), false, text);
      } else {
        cut = SjisPrefixLength(line_, cut);
        text = line_.substr(0, cut);
      }
      line_.erase(0, cut);
    }
    if (!text.empty() || hardEnd) {
      if (owedEnd_) out_.put(owedLineEnd_.data(), owedLineEnd_.size());
      owedEnd_ = false;
    }
    if (jis_ && !quotedPrintable_ && !text.empty()) {
      std::string jis(sjisToJisBound(text.size()), '\0');
      jis.resize(sjisToJis(text.data(), text.size(), jis.data()));
      text.swap(jis);
    }
    out_.put(text.data(), text.size());
    if (hardEnd) {
      owedEnd_ = true;
      owedLineEnd_ = !text.empty() && text.back() == '\r' ? std::string_view("\n") : kLocalLineEnd;
    }
  }

  OutBuffer& out_;
  bool quotedPrintable_;
  bool jis_;
  std::string line_;
  bool owedEnd_ = false;  // a line ended: its line end goes out before more text
  std::string_view owedLineEnd_;
};

// A transfer encoding whose lines are the text itself (or none given).
bool plainTransfer(std::string_view encoding) {
  return encoding.empty() || equalsNoCase(encoding, "7bit") || equalsNoCase(encoding, "8bit") ||
         equalsNoCase(encoding, "binary");
}

}  // namespace

// The open display file and the buffers the whole tree uses while parsing.
struct MailFile::Walk {
  explicit Walk(std::unique_ptr<SeekableSource> source) : in(std::move(source)), reader(*in) {}
  std::unique_ptr<SeekableSource> in;
  PieceReader reader;
  char field[kPartFieldSize];
};

std::optional<std::string> readParamValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] != '=' && text[i] != ':') ++i;
  if (i == 0 || i >= text.size()) return std::nullopt;
  std::string_view value = text.substr(i + 1);
  char close = 0;
  if (!value.empty()) {
    switch (value[0]) {
      case '"': close = '"'; break;
      case '(': close = ')'; break;
      case '<': close = '>'; break;
      case '[': close = ']'; break;
      default: break;
    }
  }
  if (close != 0) {
    value.remove_prefix(1);
    return std::string(value.substr(0, value.find(close)));
  }
  return std::string(value.substr(0, value.find(';')));
}

void readContentType(std::string_view f, std::string& type, std::string& subtype, std::string& boundary,
                     std::string& charset) {
  const std::string_view rest = f.substr(f.find(':') + 1);
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) {
    type = lowerCase(rest.substr(0, rest.find(';')));
    subtype.clear();
  } else {
    type = lowerCase(rest.substr(0, slash));
    const std::string_view after = rest.substr(slash + 1);
    subtype = lowerCase(after.substr(0, after.find(';')));
  }
  if (findNoCase(f, "boundary=") != std::string_view::npos) boundary = paramAfter(f, "boundary=");
  if (findNoCase(f, "charset=") != std::string_view::npos) charset = lowerCase(paramAfter(f, "charset="));
}

namespace {

// True when `base` (a name's text before its first dot, trailing blanks
// removed) is a device name of Windows: CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, any case.
bool IsWindowsDeviceName(std::string_view base) {
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (const std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
    if (equalsNoCase(base, device)) return true;
  }
  return base.size() == 4 && (startsWithNoCase(base, "COM") || startsWithNoCase(base, "LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

// Removes the trailing dots and blanks, which Windows drops from a name
// itself ("." and ".." leave nothing).
std::string_view WithoutTrailingDots(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

}  // namespace

std::string attachmentSaveName(std::string_view name) {
  const std::string_view last = WithoutTrailingDots(AttachmentFileName(name, true));
  std::string out = IsWindowsDeviceName(last.substr(0, last.find('.'))) ? "_" : "";
  out += last;
  return std::string(WithoutTrailingDots(std::string_view(out).substr(0, SjisPrefixLength(out, kPathSize - 1))));
}

MailFile::MailFile(PartFiles& files) : files_(files) {}

MailFile::MailFile(MailFile* parent, int depth)
    : files_(parent->files_), walk_(parent->walk_), depth_(depth), parent_(parent) {}

MailFile::~MailFile() {
  // The subtree and the later siblings form one list that is freed from its
  // head: a part's children are moved in front of its next sibling before
  // the part goes, so no destructor ever recurses.
  MailFile* list = firstChild_;
  if (list != nullptr) {
    MailFile* last = list;
    while (last->nextSibling_ != nullptr) last = last->nextSibling_;
    last->nextSibling_ = nextSibling_;
  } else {
    list = nextSibling_;
  }
  firstChild_ = nextSibling_ = nullptr;
  while (list != nullptr) {
    MailFile* part = list;
    if (part->firstChild_ != nullptr) {
      MailFile* last = part->firstChild_;
      while (last->nextSibling_ != nullptr) last = last->nextSibling_;
      last->nextSibling_ = part->nextSibling_;
      list = part->firstChild_;
    } else {
      list = part->nextSibling_;
    }
    part->firstChild_ = part->nextSibling_ = nullptr;
    delete part;
  }
}

bool MailFile::open(std::string_view path) {
  close();
  std::unique_ptr<SeekableSource> in = files_.openRead(path);
  if (!in) return false;
  path_.assign(path);
  ownWalk_ = std::make_unique<Walk>(std::move(in));
  walk_ = ownWalk_.get();
  return true;
}

void MailFile::close() {
  ownWalk_.reset();
  walk_ = nullptr;
}

int MailFile::parse() {
  if (walk_ == nullptr) return -1;
  SeekableSource& in = *walk_->in;
  start = in.tell();
  readHeader();
  bodyStart = in.tell();
  const bool multipart = !boundary.empty() && depth_ < kMaxPartDepth;
  if (parent_ == nullptr) {
    if (!multipart) {
      end = in.seekEnd();
      return 0;
    }
    if (readChildren() < 0) return -1;
    end = in.tell() - 1;
    return 0;
  }
  if (!multipart) return readToEnclosingDelimiter(true);
  if (readChildren() < 0) return -1;
  return readToEnclosingDelimiter(false);
}

void MailFile::readHeader() {
  SeekableSource& in = *walk_->in;
  PieceReader& r = walk_->reader;
  char* field = walk_->field;
  // The rest of an over-long delimiter line is no header line.
  if (r.midLine()) r.skipLine();
  std::size_t used = 0;
  for (;;) {
    const int c = in.peek();
    if (c < 0) break;
    if (used == 0 && c == '\r') {
      r.skipByte();
      if (in.peek() == '\n') r.skipByte();
      break;
    }
    bool whole = false;
    if (kPartFieldSize - used >= 2) {
      const std::size_t n = in.readLine(field + used, kPartFieldSize - used);
      used += n;
      whole = n == 0 || field[used - 1] == '\n';
    }
    if (!whole) r.skipLine();  // the field is full: the rest of the line is dropped
    const int following = in.peek();
    if (following == ' ' || following == '\t') continue;
    field[used] = '\0';
    takeField(field);
    used = 0;
  }
}

void MailFile::takeField(char* field) {
  if (startsWithNoCase(field, "Content-Type:")) {
    readContentType(stripUnquotedBlanks(field), type, subtype, boundary, charset);
  } else if (startsWithNoCase(field, "Content-Transfer-Encoding:")) {
    transferEncoding = readParamValue(stripUnquotedBlanks(field)).value_or(std::string());
  } else if (startsWithNoCase(field, "Content-ID:")) {
    contentId = readParamValue(stripUnquotedBlanks(field)).value_or(std::string());
  } else if (startsWithNoCase(field, "Content-Disposition:")) {
    const std::string_view f = stripUnquotedBlanks(field);
    bool extended = false;
    std::optional<std::string> name = mimeParameter(f, "filename", &extended);
    if (name && extended) {
      fileName = attachmentSaveName(*name);  // RFC 2231
    } else if (findNoCase(f, "filename=") != std::string_view::npos) {
      fileName = attachmentSaveName(decodeHeaderWords(paramAfter(f, "filename=")));
    }
  }
}

bool MailFile::isDelimiter(std::string_view line, const std::string& b) const {
  return !walk_->reader.continued && line.size() >= 2 + b.size() && line[0] == '-' && line[1] == '-' &&
         line.compare(2, b.size(), b) == 0;
}

int MailFile::readChildren() {
  PieceReader& r = walk_->reader;
  while (r.next()) {
    if (isDelimiter(r.piece(), boundary)) break;
  }
  MailFile* last = nullptr;
  for (;;) {
    auto* part = new MailFile(this, depth_ + 1);
    part->enclosingBoundary = boundary;
    (last ? last->nextSibling_ : firstChild_) = part;
    last = part;
    const int result = part->parse();
    if (result < 0) return -1;
    if (result == 0) return 0;
  }
}

int MailFile::readToEnclosingDelimiter(bool leaf) {
  SeekableSource& in = *walk_->in;
  PieceReader& r = walk_->reader;
  if (leaf) end = in.tell();
  for (;;) {
    if (!leaf) end = in.tell();
    if (!r.next()) return leaf ? -1 : 0;
    const std::string_view line = r.piece();
    if (isDelimiter(line, enclosingBoundary)) {
      const std::string_view after = line.substr(2 + enclosingBoundary.size());
      return after.substr(0, 2) == "--" ? 0 : 1;
    }
    if (leaf) end = in.tell();
  }
}

int MailFile::partCount() const {
  int n = 0;
  for (const MailFile* p = firstChild_; p != nullptr; p = p->nextSibling_) ++n;
  return n;
}

const MailFile* MailFile::child(int index) const {
  if (index < 0) return nullptr;
  const MailFile* p = firstChild_;
  while (p != nullptr && index-- > 0) p = p->nextSibling_;
  return p;
}

const char* MailFile::partFileName(int index, char* buffer) const {
  const MailFile* part = child(index);
  if (part == nullptr) return nullptr;
  CopyBounded(buffer, kPathSize, part->fileName);
  return buffer;
}

int MailFile::savePart(int index, std::string_view outputPath) {
  const MailFile* part = child(index);
  if (part == nullptr) return 0;
  std::unique_ptr<SeekableSource> in = files_.openRead(path_);
  if (!in) {
    files_.log(kLogLineMailOpen, "メールファイルがオープンできない " + path_);
    return 0;
  }
  std::unique_ptr<ClosableSink> out = files_.openWrite(outputPath);
  if (!out) {
    files_.log(kLogLineAttachmentOpen, "添付ファイルがオープンできない " + std::string(outputPath));
    return 0;
  }
  const bool written = in->seek(part->start) && part->writeBody(*in, *out);
  if (!out->close() || !written) {
    files_.log(__LINE__, "添付ファイルの書き込みに失敗 " + std::string(outputPath));
    return 0;
  }
  return 1;
}

bool MailFile::writeBody(SeekableSource& in, ClosableSink& sink) const {
  PieceReader r(in);
  while (r.next()) {
    if (r.emptyLine()) break;
  }
  OutBuffer out(sink);
  if (equalsNoCase(transferEncoding, "base64")) {
    Base64Lines lines(out);
    while (in.tell() < end && r.next()) {
      if (r.emptyLine()) break;
      std::string_view piece = r.piece();
      const bool lineEnds = piece.back() == '\n';
      if (lineEnds) {
        piece.remove_suffix(1);
        if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
      }
      lines.add(piece, r.continued, lineEnds);
    }
    lines.finish();
  } else if (equalsNoCase(type, "application") && equalsNoCase(subtype, "mac-binhex40")) {
    // The text between the opening and the closing colon, line ends left
    // out, decoded four characters (three bytes) at a time.
    char text[4 + kPartLineSize];
    std::size_t held = 0;
    bool opened = false;
    bool closed = false;
    while (!closed && in.tell() < end && r.next()) {
      std::string_view piece = r.piece();
      if (!opened) {
        if (r.continued || piece[0] != ':') continue;
        opened = true;
        piece.remove_prefix(1);
      } else if (r.emptyLine()) {
        break;
      }
      for (const char c : piece) {
        if (c == ':') {
          closed = true;
          break;
        }
        if (c != '\r' && c != '\n') text[held++] = c;
      }
      const std::size_t k = held / 4 * 4;
      out.commit(binhexDecode(text, k, out.room(binhexDecodedBound(k))));
      std::memmove(text, text + k, held - k);
      held -= k;
    }
    out.commit(binhexDecode(text, held, out.room(binhexDecodedBound(held))));
  } else if (type != "multipart" && type != "message" &&
             (equalsNoCase(transferEncoding, "quoted-printable") || plainTransfer(transferEncoding))) {
    TextLines lines(out, equalsNoCase(transferEncoding, "quoted-printable"),
                    startsWithNoCase(charset, "iso-2022-jp"));
    while (in.tell() < end && r.next()) lines.add(r.piece());
    lines.finish();
  } else {
    // Nested parts, messages and encodings this walker does not know
    // (uuencode) are saved as they stand.
    while (in.tell() < end && r.next()) out.put(r.line, r.length);
  }
  return out.flush();
}

}  // namespace zel
