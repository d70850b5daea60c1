#include "codec/reading_copy.h"

#include <string>

#include "codec/decode_lines.h"
#include "codec/encoded_word.h"
#include "codec/header_text.h"
#include "codec/header_words.h"
#include "codec/mime_params.h"
#include "platform/sjis_text.h"

namespace zel {

namespace {

constexpr std::string_view kNotice = "\n--- このメールにはファイルが添付されています ---\n\n";
constexpr std::string_view kMixedPrefix = "Content-Type:multipart/mixed;boundary=\"";
constexpr std::string_view kAlternativePrefix = "Content-Type:multipart/alternative;boundary=\"";
constexpr std::string_view kTextPlain = "Content-Type:text/plain";
constexpr std::string_view kContentType = "Content-Type:";
constexpr std::string_view kDisposition = "Content-Disposition:";
constexpr std::string_view kAttachmentName = "attachment;filename";

// `line` without the blanks, tabs, CRs and LFs outside double quotes (as C
// text: a NUL inside the line ends it).
std::string stripped(const std::string& line) {
  std::string work(line.c_str());
  return std::string(stripUnquotedBlanks(work.data()));
}

// The delimiter line ("--" boundary LF) of a stripped Content-Type field, or
// empty when it names no multipart boundary this reader recognises: the
// boundary must be the first parameter and quoted.
std::string delimiterOf(const std::string& contentType) {
  std::size_t open;
  if (startsWithNoCase(contentType, kMixedPrefix)) {
    open = kMixedPrefix.size() - 1;
  } else if (startsWithNoCase(contentType, kAlternativePrefix)) {
    open = kAlternativePrefix.size() - 1;
  } else {
    return {};
  }
  const std::size_t close = contentType.find('"', open + 1);
  if (close == std::string::npos) return {};
  return "--" + contentType.substr(open + 1, close - open - 1) + "\n";
}

// Reads the top-level header: a field is a line plus every following line
// starting with a tab or a blank, each continuation joined over the line
// feed with its first character dropped. Captures the fields into `table`
// and returns the delimiter line of a recognised multipart message.
std::string readHeader(LineSource& in, HeaderTable& table) {
  std::string delimiter;
  std::string field;
  std::string continuation;
  while (readWholeLine(in, field) && field != "\n") {
    while (field.back() == '\n' && (in.peek() == ' ' || in.peek() == '\t')) {
      readWholeLine(in, continuation);
      field.pop_back();
      field.append(continuation, 1);
    }
    table.capture(field);
    if (startsWithNoCase(field, kContentType)) {
      std::string candidate = delimiterOf(stripped(field));
      if (!candidate.empty()) delimiter = std::move(candidate);
    }
  }
  return delimiter;
}

// Copies every remaining line. Returns false when writing fails.
bool copyRest(LineSource& in, LineSink& out) {
  std::string line;
  while (readWholeLine(in, line)) {
    if (!out.write(line)) return false;
  }
  return true;
}

// Reads lines up to and including the first one equal to `delimiter`.
// Returns false when the end came first.
bool skipPast(LineSource& in, const std::string& delimiter) {
  std::string line;
  while (readWholeLine(in, line)) {
    if (line == delimiter) return true;
  }
  return false;
}

// One part listing line.
std::string attachmentLine(int number, std::string_view name) {
  std::string out = "添付: ";
  out += std::to_string(number);
  out += " \"";
  out += name;
  out += "\"\n";
  return out;
}

// The listing line of a part with a Content-Type and the (stripped)
// Content-Disposition line `disposition` (empty when the part has none).
std::string listingLine(int number, const std::string& disposition, DecodeMode mode) {
  if (disposition.empty()) return attachmentLine(number, "-*-no-name-*-");
  std::string_view rest(disposition);
  rest.remove_prefix(rest.find(':') + 1);
  // The line feed survives stripping inside an unclosed quote: the text
  // still ends at the line end, so the listing line stays one line.
  rest = rest.substr(0, rest.find('\n'));
  const std::string_view text = rest.substr(0, rest.find('='));
  if (!startsWithNoCase(text, kAttachmentName)) {
    return attachmentLine(number, "-*-" + std::string(text) + "-*-");
  }
  std::string_view name = rest.substr(text.size());
  if (!name.empty() && name.front() == '=') name.remove_prefix(1);
  if (!name.empty() && name.front() == '"') name.remove_prefix(1);
  name = name.substr(0, name.find('"'));
  // The decoded name lives in a path-sized area.
  std::string decoded;
  bool extended = false;
  if (mode == DecodeMode::kClassic) {
    decoded = decodeHeaderLine(name);
  } else if (std::optional<std::string> value = mimeParameter(rest, "filename", &extended); value && extended) {
    decoded = std::move(*value);  // RFC 2231
  } else {
    decoded = decodeHeaderWords(name);
  }
  return attachmentLine(number, std::string_view(decoded).substr(
                                    0, SjisPrefixLength(decoded, kPathSize - 1)));
}

int writeMultipartBody(LineSource& in, LineSink& out, const std::string& delimiter, DecodeMode mode) {
  std::string line;
  skipPast(in, delimiter);
  // First part: its header, then its text when it is plain text.
  std::string firstType;
  while (readWholeLine(in, line) && line != "\n") {
    std::string clean = stripped(line);
    if (startsWithNoCase(clean, kContentType)) firstType = std::move(clean);
  }
  if (startsWithNoCase(firstType, kTextPlain)) {
    while (readWholeLine(in, line) && !equalsNoCase(line, delimiter)) {
      if (!out.write(line)) return 0;
    }
  }
  if (!out.write(kNotice)) return 0;
  // Every further part: one listing line each.
  int number = 0;
  for (;;) {
    std::string type;
    std::string disposition;
    bool inDisposition = false;  // the field continues on the next line
    while (readWholeLine(in, line) && line != "\n") {
      const bool continuation = line[0] == ' ' || line[0] == '\t';
      std::string clean = stripped(line);
      const bool isDisposition = startsWithNoCase(clean, kDisposition);
      if (startsWithNoCase(clean, kContentType)) {
        type = std::move(clean);
      } else if (isDisposition) {
        disposition = std::move(clean);
      } else if (continuation && inDisposition && mode == DecodeMode::kAnyCharset &&
                 startsWithNoCase(clean, "filename*")) {
        disposition += clean;  // RFC 2231 pieces of a file name folded onto lines of their own
        continue;
      }
      inDisposition = isDisposition;
    }
    std::string entry;
    if (type.empty()) {
      entry = attachmentLine(number, "-*-no-content-type-*-");
    } else {
      entry = listingLine(++number, disposition, mode);
    }
    if (!out.write(entry)) return 0;
    if (!skipPast(in, delimiter)) return 1;
  }
}

}  // namespace

int makeReadingCopy(std::string_view displayPath, LineSource& display, LineSink& readingCopy,
                    HeaderTable& table, DecodeMode mode) {
  table.reset();
  const std::string delimiter = readHeader(display, table);
  std::string first = "X-MailFile: ";
  first += displayPath;
  first += '\n';
  if (!readingCopy.write(first) || !table.write(readingCopy) || !readingCopy.write("\n")) {
    return 0;
  }
  if (delimiter.empty()) return copyRest(display, readingCopy) ? 1 : 0;
  return writeMultipartBody(display, readingCopy, delimiter, mode);
}

}  // namespace zel
