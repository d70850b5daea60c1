#include "codec/message_decoder.h"

#include <string>
#include <string_view>

#include "codec/charset.h"
#include "codec/decode_lines.h"
#include "codec/encoded_word.h"
#include "codec/header_text.h"
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

}  // namespace

void MessageInfo::clear() {
  date = std::tm{};
  from[0] = '\0';
  subject[0] = '\0';
}

int decodeHeaderBlock(LineSource& raw, LineSink& display, MessageInfo& info) {
  std::string field;
  std::string continuation;
  while (readWholeLine(raw, field)) {
    if (field == "\n") break;
    // Unfold: a continuation's leading blank takes the line feed's place.
    while (!field.empty() && field.back() == '\n' && raw.peek() == ' ') {
      readWholeLine(raw, continuation);
      field.pop_back();
      field += continuation;
    }
    // The header must end with its own line before the empty line, even
    // when the raw file ends inside the header without a line feed.
    if (field.back() != '\n') field += '\n';
    if (startsWithNoCase(field, "Subject:")) {
      // The undecoded copy is one line as the decoded one is.
      std::string raw = "X-" + field;
      blankControlBytes(raw);
      if (!display.write(raw)) return 0;
    }
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
