#include "codec/body_decoder.h"

#include "charset/charset_convert.h"
#include "charset/charset_guess.h"
#include "charset/jis_convert.h"
#include "codec/base64_stream.h"
#include "codec/header_text.h"
#include "codec/header_words.h"
#include "codec/html_text.h"
#include "codec/mail_file.h"
#include "codec/mime_params.h"
#include "codec/quoted_printable.h"
#include "platform/ascii_case.h"

namespace zel {

namespace {

// A part header longer than this is written as it stands and its part
// taken as it is: no mail program writes one, and it is held in memory.
constexpr std::size_t kPartHeaderMax = 64 * 1024;

// The boundary of the multipart/alternative a message that is one HTML
// part becomes.
constexpr std::string_view kRenderingBoundary = "=_zelpost_rendering_=";

// The charset of decoded text.
constexpr std::string_view kShiftJis = "Shift_JIS";

bool continues(std::string_view line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

// The field of `lines` that starts with `name`, its continuation lines
// joined, or "" (the last one when there are several).
std::string fieldOf(const std::vector<std::string>& lines, std::string_view name) {
  std::string field;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!startsWithNoCase(lines[i], name)) continue;
    field = lines[i];
    while (i + 1 < lines.size() && continues(lines[i + 1])) field += lines[++i];
  }
  return field;
}

// `field` without blanks, tabs and line ends outside quotes.
std::string stripped(std::string field) {
  field.resize(std::string_view(stripUnquotedBlanks(field.data())).size());
  return field;
}

std::string lowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

// The text of a stripped field after its name, up to the first ";".
std::string firstValue(const std::string& strippedField) {
  const std::size_t colon = strippedField.find(':');
  if (colon == std::string::npos) return {};
  const std::string_view rest = std::string_view(strippedField).substr(colon + 1);
  return lowerCase(rest.substr(0, rest.find(';')));
}

std::string contentTypeLine(std::string_view type, std::string_view charset) {
  std::string line = "Content-Type: ";
  line += type;
  if (!charset.empty()) {
    line += "; charset=";
    line += charset;
  }
  line += '\n';
  return line;
}

constexpr std::string_view kDecodedEncoding = "Content-Transfer-Encoding: 8bit\n";

// The classic conversion of one line.
std::string classicLine(std::string_view raw) {
  std::string line(raw);
  line.resize(jisToSjis(line.data(), line.size(), line.data()));
  return line;
}

}  // namespace

PartPlan planPart(const std::vector<std::string>& lines, bool plainTextSeen, int depth) {
  PartPlan plan;
  const std::string contentType = stripped(fieldOf(lines, "Content-Type:"));
  if (contentType.empty() && depth == 0 && fieldOf(lines, "MIME-Version:").empty()) {
    plan.kind = PartPlan::Kind::kGuessed;  // no MIME at all: the charset is guessed
    return plan;
  }
  if (contentType.empty()) return plan;  // text/plain in US-ASCII: as it stands
  std::string type, subtype, boundary, charset;
  readContentType(contentType, type, subtype, boundary, charset);
  if (type == "multipart") {
    if (!boundary.empty() && depth < kMaxPartDepth) {
      plan.kind = PartPlan::Kind::kMultipart;
      plan.boundary = boundary;
    }
    return plan;
  }
  if (type != "text") return plan;
  // An attachment: disposition "attachment", or a file name.
  const std::string disposition = stripped(fieldOf(lines, "Content-Disposition:"));
  if (firstValue(disposition) == "attachment" || findNoCase(disposition, "filename") != std::string::npos ||
      mimeParameter(contentType, "name")) {
    return plan;
  }
  plan.plainText = subtype == "plain";
  const std::string encoding = firstValue(stripped(fieldOf(lines, "Content-Transfer-Encoding:")));
  if (encoding == "base64") plan.transfer = PartPlan::Transfer::kBase64;
  if (encoding == "quoted-printable") plan.transfer = PartPlan::Transfer::kQuotedPrintable;
  plan.charsetLabel = charset;
  if (convertsCharset(charset)) {
    plan.charset = PartPlan::Charset::kConvert;
  } else if (CanonicalCharset(charset).starts_with("ISO-2022-JP")) {
    plan.charset = PartPlan::Charset::kJis;
  }
  const bool render = subtype == "html" && !plainTextSeen;
  if (plan.transfer == PartPlan::Transfer::kNone && plan.charset != PartPlan::Charset::kConvert && !render) {
    return plan;  // as the classic decoder writes it
  }
  plan.kind = render ? PartPlan::Kind::kTextWithRendering : PartPlan::Kind::kText;
  if (plan.transfer != PartPlan::Transfer::kNone) plan.transferEncoding = kDecodedEncoding;
  const bool relabel = plan.charset != PartPlan::Charset::kBytes;
  if (render && depth == 0) {
    plan.contentType = "Content-Type: multipart/alternative; boundary=\"" + std::string(kRenderingBoundary) + "\"\n";
  } else if (relabel) {
    plan.contentType = contentTypeLine("text/" + subtype, kShiftJis);
  }
  return plan;
}

bool writePartHeader(const std::vector<std::string>& lines, const PartPlan& plan, LineSink& out) {
  for (std::size_t i = 0; i < lines.size();) {
    std::size_t j = i + 1;
    while (j < lines.size() && continues(lines[j])) ++j;
    std::string_view replacement;
    if (!plan.contentType.empty() && startsWithNoCase(lines[i], "Content-Type:")) {
      replacement = plan.contentType;
    } else if (!plan.transferEncoding.empty() && startsWithNoCase(lines[i], "Content-Transfer-Encoding:")) {
      replacement = plan.transferEncoding;
    }
    if (!replacement.empty() && !out.write("X-")) return false;
    for (; i < j; ++i) {
      if (!out.write(lines[i])) return false;
    }
    if (!replacement.empty() && !out.write(replacement)) return false;
  }
  return true;
}

// The decoding of one text part: transfer encoding, charset, lines.
class BodyDecoder::TextPart {
 public:
  explicit TextPart(const PartPlan& plan)
      : plan_(plan), render_(plan.kind == PartPlan::Kind::kTextWithRendering) {
    if (plan_.charset == PartPlan::Charset::kConvert &&
        !converter_.Open(plan_.charsetLabel, CharsetConverter::Direction::kToCp932)) {
      plan_.charset = PartPlan::Charset::kBytes;
    }
  }

  // One raw line.
  void line(std::string_view raw) {
    std::string_view body = raw;
    const bool lineEnd = !body.empty() && body.back() == '\n';
    if (lineEnd) body.remove_suffix(1);
    bytes_.clear();
    switch (plan_.transfer) {
      case PartPlan::Transfer::kNone: bytes_.assign(raw); break;
      case PartPlan::Transfer::kBase64: base64_.add(body, bytes_); break;
      case PartPlan::Transfer::kQuotedPrintable: quotedPrintableDecodeLine(body, lineEnd, bytes_); break;
    }
    decoded(bytes_, false);
  }

  void finish() {
    bytes_.clear();
    if (plan_.transfer == PartPlan::Transfer::kBase64) base64_.finish(bytes_);
    decoded(bytes_, true);
    if (!pending_.empty()) {
      if (pending_.back() == '\r') pending_.pop_back();
      pending_ += '\n';
      take(pending_);
      pending_.clear();
    }
    if (render_) renderer_.finish(rendering);
  }

  std::string ready;      // decoded lines not yet written
  std::string rendering;  // the rendering of the HTML so far

 private:
  // Transfer-decoded bytes into Shift-JIS text.
  void decoded(std::string_view b, bool last) {
    switch (plan_.charset) {
      case PartPlan::Charset::kConvert:
        converted_.clear();
        converter_.Convert(b, converted_, last);
        text(converted_);
        break;
      case PartPlan::Charset::kJis: {
        // The classic conversion works a line at a time.
        jis_ += b;
        std::size_t from = 0;
        for (std::size_t feed; (feed = jis_.find('\n', from)) != std::string::npos; from = feed + 1) {
          text(classicLine(std::string_view(jis_).substr(from, feed + 1 - from)));
        }
        jis_.erase(0, from);
        if (last && !jis_.empty()) {
          text(classicLine(jis_));
          jis_.clear();
        }
        break;
      }
      case PartPlan::Charset::kBytes:
        text(b);
        break;
    }
  }

  // Shift-JIS text: whole lines (CR LF read as LF) go to `ready`.
  void text(std::string_view t) {
    const std::size_t last = t.rfind('\n');
    if (last == std::string_view::npos) {
      pending_ += t;  // no line ends here yet
      return;
    }
    pending_ += t.substr(0, last + 1);
    line_.clear();
    std::size_t from = 0;
    for (std::size_t feed; (feed = pending_.find('\n', from)) != std::string::npos; from = feed + 1) {
      const std::size_t end = feed > from && pending_[feed - 1] == '\r' ? feed - 1 : feed;
      line_.append(pending_, from, end - from);
      line_ += '\n';
    }
    take(line_);
    pending_.assign(t.substr(last + 1));
  }

  void take(std::string_view line) {
    ready += line;
    if (render_) renderer_.add(line, rendering);
  }

  PartPlan plan_;
  bool render_;
  Base64Stream base64_;
  CharsetConverter converter_;
  HtmlTextRenderer renderer_;
  std::string bytes_;      // transfer-decoded bytes of one line
  std::string converted_;  // their Shift-JIS form
  std::string jis_;        // ISO-2022-JP bytes up to a line end
  std::string pending_;    // Shift-JIS text up to a line end
  std::string line_;       // the whole lines of one piece of text
};

BodyDecoder::BodyDecoder(LineSink& out, const PartPlan& top) : out_(out), part_(top) {
  switch (top.kind) {
    case PartPlan::Kind::kMultipart:
      boundaries_.push_back(top.boundary);
      where_ = Where::kPreamble;
      break;
    case PartPlan::Kind::kText:
    case PartPlan::Kind::kTextWithRendering:
      text_ = std::make_unique<TextPart>(top);
      break;
    case PartPlan::Kind::kGuessed:
      guessing_ = true;
      break;
    case PartPlan::Kind::kAsIs:
      break;
  }
}

bool BodyDecoder::decideGuess() {
  guessing_ = false;
  const std::string_view guess = GuessCharset(guessHeld_);
  std::string held;
  held.swap(guessHeld_);
  if (guess != "UTF-8" && guess != "EUC-JP") {
    part_.kind = PartPlan::Kind::kAsIs;
    return classicLines(held);
  }
  part_.kind = PartPlan::Kind::kText;
  part_.charset = PartPlan::Charset::kConvert;
  part_.charsetLabel = guess;
  text_ = std::make_unique<TextPart>(part_);
  text_->line(held);
  writeText(text_->ready);
  text_->ready.clear();
  return ok_;
}

bool BodyDecoder::classicLines(std::string_view raw) {
  for (std::size_t from = 0; from < raw.size() && ok_;) {
    const std::size_t feed = raw.find('\n', from);
    const std::size_t end = feed == std::string_view::npos ? raw.size() : feed + 1;
    classic(raw.substr(from, end - from));
    from = end;
  }
  return ok_;
}

BodyDecoder::~BodyDecoder() = default;

bool BodyDecoder::line(std::string_view raw) {
  if (!ok_) return false;
  if (guessing_) {
    guessHeld_ += raw;
    return guessHeld_.size() < kGuessHoldMax || decideGuess();
  }
  if (const int level = delimiterLevel(raw); level >= 0) {
    if (!endPart()) return false;
    const std::size_t after = 2 + boundaries_[static_cast<std::size_t>(level)].size();
    const bool close = raw.substr(after, 2) == "--";
    boundaries_.resize(static_cast<std::size_t>(level) + (close ? 0 : 1));
    classic(raw);
    if (close) {
      where_ = Where::kEpilogue;
    } else {
      where_ = Where::kHeader;
      header_.clear();
      headerBytes_ = 0;
      headerAsIs_ = false;
    }
    return ok_;
  }
  switch (where_) {
    case Where::kPreamble:
    case Where::kEpilogue:
      return classic(raw);
    case Where::kHeader:
      if (raw == "\n") {
        if (headerAsIs_) {
          part_ = PartPlan{};
          where_ = Where::kBody;
          return classic(raw);
        }
        return startBody();
      }
      if (headerAsIs_) return classic(raw);
      header_.emplace_back(raw);
      headerBytes_ += raw.size();
      if (headerBytes_ > kPartHeaderMax) {
        for (const std::string& held : header_) classic(held);
        header_.clear();
        headerAsIs_ = true;
      }
      return ok_;
    case Where::kBody:
      if (!text_) return classic(raw);
      text_->line(raw);
      if (part_.kind == PartPlan::Kind::kText) {
        writeText(text_->ready);
        text_->ready.clear();
      }
      return ok_;
  }
  return ok_;
}

bool BodyDecoder::startBody() {
  part_ = planPart(header_, plainTextSeen_, static_cast<int>(boundaries_.size()));
  plainTextSeen_ = plainTextSeen_ || part_.plainText;
  where_ = Where::kBody;
  if (part_.kind == PartPlan::Kind::kTextWithRendering) {
    text_ = std::make_unique<TextPart>(part_);  // the header waits for the rendering
    return ok_;
  }
  for (std::string& held : header_) held = classicLine(held);
  ok_ = ok_ && writePartHeader(header_, part_, out_) && out_.write("\n");
  lastFeed_ = true;
  header_.clear();
  if (part_.kind == PartPlan::Kind::kMultipart) {
    boundaries_.push_back(part_.boundary);
    where_ = Where::kPreamble;
  } else if (part_.kind == PartPlan::Kind::kText) {
    text_ = std::make_unique<TextPart>(part_);
  }
  return ok_;
}

bool BodyDecoder::endPart() {
  if (where_ == Where::kHeader && !headerAsIs_) {
    for (const std::string& held : header_) classic(held);  // a header the delimiter cut
    header_.clear();
  }
  if (!text_) return ok_;
  text_->finish();
  if (part_.kind == PartPlan::Kind::kTextWithRendering) {
    // The rendering as a text/plain part of its own in front of the HTML.
    const bool top = boundaries_.empty();
    const std::string boundary = top ? std::string(kRenderingBoundary) : boundaries_.back();
    const std::string_view charset =
        part_.charset == PartPlan::Charset::kBytes ? std::string_view(part_.charsetLabel) : kShiftJis;
    if (top) writeRaw("--" + boundary + "\n");
    writeRaw(contentTypeLine("text/plain", charset));
    writeRaw(kDecodedEncoding);
    writeRaw("\n");
    writeText(text_->rendering);
    writeRaw("--" + boundary + "\n");
    if (top) {
      writeRaw(contentTypeLine("text/html", charset));
      writeRaw(kDecodedEncoding);
    } else {
      for (std::string& held : header_) held = classicLine(held);
      ok_ = ok_ && writePartHeader(header_, part_, out_);
      header_.clear();
    }
    writeRaw("\n");
  }
  writeText(text_->ready);
  if (part_.kind == PartPlan::Kind::kTextWithRendering && boundaries_.empty()) {
    writeRaw("--" + std::string(kRenderingBoundary) + "--\n");
  }
  text_.reset();
  return ok_;
}

bool BodyDecoder::finish() {
  if (guessing_) decideGuess();
  endPart();
  // As the classic decoder: the body ends with a line end.
  if (!lastFeed_) writeRaw("\n");
  return ok_;
}

bool BodyDecoder::classic(std::string_view raw) { return writeRaw(classicLine(raw)); }

bool BodyDecoder::writeRaw(std::string_view text) {
  if (text.empty() || !ok_) return ok_;
  ok_ = out_.write(text);
  lastFeed_ = text.back() == '\n';
  return ok_;
}

bool BodyDecoder::writeText(std::string_view text) {
  // A decoded line that would be read as a delimiter gets a blank in front;
  // the lines between such ones go out in one write.
  const bool rendering = part_.kind == PartPlan::Kind::kTextWithRendering && boundaries_.empty();
  const auto guarded = [&](std::string_view line) {
    if (!line.starts_with("--")) return false;
    line.remove_prefix(2);
    if (rendering && line.starts_with(kRenderingBoundary)) return true;
    for (const std::string& b : boundaries_) {
      if (line.starts_with(b)) return true;
    }
    return false;
  };
  std::size_t run = 0;  // start of the lines not yet written
  for (std::size_t at = 0; at < text.size() && ok_;) {
    if (guarded(text.substr(at))) {
      writeRaw(text.substr(run, at - run));
      writeRaw(" ");
      run = at;
    }
    const std::size_t feed = text.find('\n', at);
    at = feed == std::string_view::npos ? text.size() : feed + 1;
  }
  return writeRaw(text.substr(run));
}

int BodyDecoder::delimiterLevel(std::string_view raw) const {
  if (raw.size() < 2 || raw[0] != '-' || raw[1] != '-') return -1;
  for (std::size_t level = boundaries_.size(); level-- > 0;) {
    if (raw.substr(2).starts_with(boundaries_[level])) return static_cast<int>(level);
  }
  return -1;
}

}  // namespace zel
