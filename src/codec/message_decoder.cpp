#include "codec/message_decoder.h"

#include <string>
#include <string_view>
#include <vector>

#include "charset/jis_convert.h"
#include "codec/decode_lines.h"
#include "codec/encoded_word.h"
#include "codec/header_text.h"
#include "codec/header_words.h"
#include "codec/rfc822_date.h"

namespace zel {

namespace {

// Longest field text decodeHeaderLine gets at once: the 1,024-byte work
// area less its NUL.
constexpr std::size_t kFieldWorkMax = kLineSize - 1;

// Where a field too long for the work area is cut: after the last blank or
// tab inside the work area (so no encoded word is split), else at the work
// area's end on a character boundary.
std::size_t fieldCut(std::string_view field) {
  const std::string_view work = field.substr(0, kFieldWorkMax);
  const std::size_t blank = work.find_last_of(" \t");
  if (blank != std::string_view::npos && blank > 0) return blank;
  return SjisPrefixLength(field, kFieldWorkMax);
}

// The display form of one unfolded raw field.
std::string decodeField(std::string_view field) {
  if (field.size() <= kFieldWorkMax) return decodeHeaderLine(field);
  const std::size_t cut = fieldCut(field);
  std::string out = decodeHeaderLine(field.substr(0, cut));
  out.append(field.substr(cut));
  blankControlBytes(out);
  return out;
}

// Stores `line` cleaned by trimBlanks into `dst`, cut to fit.
template <std::size_t N>
void captureText(char (&dst)[N], const std::string& line) {
  std::string work(line.c_str());  // the text up to a NUL, as C text
  CopyBounded(dst, trimBlanks(work.data()));
}

void captureInfo(const std::string& decoded, MessageInfo& info) {
  if (startsWithNoCase(decoded, "Date:")) {
    parseCaptureDate(decoded.c_str(), info.date);
  } else if (startsWithNoCase(decoded, "From:")) {
    captureText(info.from, decoded);
  } else if (startsWithNoCase(decoded, "Subject:")) {
    captureText(info.subject, decoded);
  }
}

// Reads the next header field, unfolded over the continuation lines that
// start with a blank (a tab does not continue a field here) and ending with
// a line feed. Returns false at the empty line or the end.
bool readField(LineSource& raw, std::string& field) {
  if (!readWholeLine(raw, field) || field == "\n") return false;
  std::string continuation;
  // Unfold: a continuation's leading blank takes the line feed's place.
  while (!field.empty() && field.back() == '\n' && raw.peek() == ' ') {
    readWholeLine(raw, continuation);
    field.pop_back();
    field += continuation;
  }
  // The header must end with its own line before the empty line, even
  // when the raw file ends inside the header without a line feed.
  if (field.back() != '\n') field += '\n';
  return true;
}

// The undecoded copy of a Subject field, one line as the decoded one is.
std::string subjectCopy(const std::string& field) {
  std::string copy = "X-" + field;
  blankControlBytes(copy);
  return copy;
}

}  // namespace

void MessageInfo::clear() {
  date = std::tm{};
  from[0] = '\0';
  subject[0] = '\0';
}

int MessageDecoder::decodeHeader(LineSource& raw, LineSink& display, MessageInfo& info) {
  if (mode_ == DecodeMode::kClassic) return decodeHeaderBlock(raw, display, info);
  std::vector<std::string> fields;  // raw, for the MIME fields of the message
  std::vector<std::string> lines;   // display lines not yet written
  std::size_t held = 0;
  bool holding = true;
  std::string field;
  while (readField(raw, field)) {
    if (startsWithNoCase(field, "Subject:")) lines.push_back(subjectCopy(field));
    std::string decoded = decodesDifferently(field) ? decodeHeaderWords(field) : decodeField(field);
    captureInfo(decoded, info);
    lines.push_back(std::move(decoded));
    if (!holding) {
      for (const std::string& line : lines) {
        if (!display.write(line)) return 0;
      }
      lines.clear();
      continue;
    }
    held += field.size();
    fields.push_back(std::move(field));
    if (held > kHeaderHoldMax) {
      holding = false;  // the body is taken as it stands
      fields.clear();
    }
  }
  top_ = holding ? planPart(fields, false, 0) : PartPlan{};
  return writePartHeader(lines, top_, display) && display.write("\n") ? 1 : 0;
}

int MessageDecoder::decodeBody(LineSource& raw, LineSink& display) {
  if (mode_ == DecodeMode::kClassic) return decodeBodyText(raw, display);
  BodyDecoder body(display, top_);
  std::string line;
  while (readWholeLine(raw, line)) {
    std::string_view text = line;
    if (text.front() == '.') {
      if (text == ".\n" || text == ".") break;
      text.remove_prefix(1);
    }
    if (!body.line(text)) return 0;
  }
  return body.finish() ? 1 : 0;
}

int decodeHeaderBlock(LineSource& raw, LineSink& display, MessageInfo& info) {
  std::string field;
  while (readField(raw, field)) {
    if (startsWithNoCase(field, "Subject:") && !display.write(subjectCopy(field))) return 0;
    const std::string decoded = decodeField(field);
    if (!display.write(decoded)) return 0;
    captureInfo(decoded, info);
  }
  return display.write("\n") ? 1 : 0;
}

int decodeBodyText(LineSource& raw, LineSink& display) {
  std::string line;
  bool wrote = false;
  bool lastHadFeed = true;
  while (readWholeLine(raw, line)) {
    // Each line on its own, starting in the ASCII state; the output is never
    // longer than the input, so the conversion runs in place.
    const std::size_t length = line.size();
    line.push_back('\0');
    line.resize(jisToSjis(line.data(), length, line.data()));
    std::string_view out = line;
    if (out.empty()) continue;
    if (out.front() == '.') {
      if (out == ".\n" || out == ".") break;
      out.remove_prefix(1);
    }
    if (out.empty()) continue;
    if (!display.write(out)) return 0;
    wrote = true;
    lastHadFeed = out.back() == '\n';
  }
  if (wrote && !lastHadFeed && !display.write("\n")) return 0;
  return 1;
}

}  // namespace zel
