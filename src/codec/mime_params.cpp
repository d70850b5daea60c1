#include "codec/mime_params.h"

#include <algorithm>
#include <map>
#include <vector>

#include "charset/charset_convert.h"
#include "charset/jis_convert.h"
#include "codec/header_words.h"
#include "platform/ascii_case.h"

namespace zel {

namespace {

// RFC 2231 allows any number of pieces; mail programs write a few.
constexpr int kMaxPieces = 1000;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Reads one parameter value at the start of `s`: a quoted string (escapes
// removed) or the text up to the next ";". `rest` is set after it.
std::string readValue(std::string_view s, std::string_view& rest) {
  std::size_t i = 0;
  while (i < s.size() && isBlank(s[i])) ++i;
  std::string value;
  if (i < s.size() && s[i] == '"') {
    for (++i; i < s.size() && s[i] != '"'; ++i) {
      if (s[i] == '\\' && i + 1 < s.size()) ++i;
      value += s[i];
    }
    const std::size_t semicolon = s.find(';', i);
    rest = semicolon == std::string_view::npos ? std::string_view() : s.substr(semicolon + 1);
    return value;
  }
  const std::size_t semicolon = s.find(';', i);
  value.assign(trimmed(s.substr(i, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - i)));
  rest = semicolon == std::string_view::npos ? std::string_view() : s.substr(semicolon + 1);
  return value;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void appendUnescaped(std::string_view s, std::string& out) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const int hi = s[i] == '%' && i + 2 < s.size() ? hexDigit(s[i + 1]) : -1;
    const int lo = hi >= 0 ? hexDigit(s[i + 2]) : -1;
    if (lo >= 0) {
      out.push_back(static_cast<char>(hi << 4 | lo));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
}

// The Shift-JIS form of `bytes` in `charset`.
std::string toShiftJis(std::string_view charset, std::string bytes) {
  if (convertsCharset(charset)) {
    std::string out;
    ConvertToCp932(charset, bytes, out);
    return out;
  }
  if (startsWithNoCase(charset, "iso-2022-jp")) bytes.resize(jisToSjis(bytes.data(), bytes.size(), bytes.data()));
  return bytes;
}

}  // namespace

std::optional<std::string> mimeParameter(std::string_view field, std::string_view name, bool* extended) {
  std::optional<std::string> plain;
  std::map<int, std::pair<std::string, bool>> pieces;  // number -> value, escaped
  // The parameters start after the first ";" outside quotes.
  std::string_view rest = field;
  for (bool quoted = false; !rest.empty(); rest.remove_prefix(1)) {
    if (rest[0] == '"') quoted = !quoted;
    if (rest[0] == ';' && !quoted) {
      rest.remove_prefix(1);
      break;
    }
  }
  while (!rest.empty()) {
    const std::size_t eq = rest.find('=');
    const std::size_t semicolon = rest.find(';');
    if (eq == std::string_view::npos || (semicolon != std::string_view::npos && semicolon < eq)) {
      if (semicolon == std::string_view::npos) break;
      rest.remove_prefix(semicolon + 1);  // a parameter without a value
      continue;
    }
    const std::string_view key = trimmed(rest.substr(0, eq));
    std::string value = readValue(rest.substr(eq + 1), rest);
    if (key.size() < name.size() || !startsWithNoCase(key, name)) continue;
    std::string_view suffix = key.substr(name.size());
    if (suffix.empty()) {
      if (!plain) plain = std::move(value);
      continue;
    }
    if (suffix[0] != '*') continue;
    suffix.remove_prefix(1);
    bool escaped = false;
    if (!suffix.empty() && suffix.back() == '*') {
      escaped = true;
      suffix.remove_suffix(1);
    }
    int number = 0;
    if (suffix.empty()) {
      escaped = true;  // "name*=": one escaped piece
    } else {
      for (const char c : suffix) {
        if (c < '0' || c > '9' || number > kMaxPieces) {
          number = -1;
          break;
        }
        number = number * 10 + (c - '0');
      }
    }
    if (number >= 0 && number <= kMaxPieces) pieces.emplace(number, std::make_pair(std::move(value), escaped));
  }
  if (pieces.empty() || pieces.begin()->first != 0) {
    if (plain && extended != nullptr) *extended = false;
    return plain;
  }
  // Pieces 0, 1, ... in order; the first missing number ends the value.
  std::string charset;
  std::string bytes;
  int expected = 0;
  for (auto& [number, piece] : pieces) {
    if (number != expected++) break;
    std::string_view text = piece.first;
    if (number == 0 && piece.second) {
      const std::size_t q1 = text.find('\'');
      const std::size_t q2 = q1 == std::string_view::npos ? q1 : text.find('\'', q1 + 1);
      if (q2 != std::string_view::npos) {
        charset.assign(text.substr(0, q1));
        text.remove_prefix(q2 + 1);
      }
    }
    if (piece.second) {
      appendUnescaped(text, bytes);
    } else {
      bytes.append(text);
    }
  }
  if (extended != nullptr) *extended = true;
  return toShiftJis(charset, std::move(bytes));
}

namespace {

// RFC 2231 attribute-char: printable ASCII other than blank, "*", "'", "%"
// and the tspecials of RFC 2045. Written as it stands in an extended value.
bool isAttributeChar(unsigned char c) {
  if (c <= ' ' || c >= 0x7F) return false;
  return std::string_view("*'%()<>@,;:\\\"/[]?=").find(static_cast<char>(c)) == std::string_view::npos;
}

// The bytes a UTF-8 character with the lead byte `c` has (1 for any other byte).
std::size_t utf8CharBytes(unsigned char c) { return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1; }

}  // namespace

std::string extendedParameterLines(std::string_view name, std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kCharset = "UTF-8''";
  // The value escaped, one string per character.
  std::vector<std::string> chars;
  for (std::size_t i = 0; i < value.size();) {
    const std::size_t n = std::min(utf8CharBytes(static_cast<unsigned char>(value[i])), value.size() - i);
    std::string& escaped = chars.emplace_back();
    for (const char b : value.substr(i, n)) {
      const auto c = static_cast<unsigned char>(b);
      if (isAttributeChar(c)) {
        escaped += b;
      } else {
        escaped.append({'%', kHex[c >> 4], kHex[c & 0xF]});
      }
    }
    i += n;
  }
  std::size_t total = 0;
  for (const std::string& c : chars) total += c.size();
  // " name*=" ... ";" on one line when it stays under the limit.
  if (name.size() + kCharset.size() + total + 4 < kParameterLineLimit) {
    std::string line = " ";
    line.append(name).append("*=").append(kCharset);
    for (const std::string& c : chars) line += c;
    return line + "\n";
  }
  std::string out;
  std::string line;
  int piece = 0;
  const auto start = [&] {
    line = " ";
    line.append(name).append("*").append(std::to_string(piece)).append("*=");
    if (piece++ == 0) line.append(kCharset);
  };
  start();
  bool empty = true;  // the line holds no character yet
  for (const std::string& c : chars) {
    if (!empty && line.size() + c.size() + 1 >= kParameterLineLimit) {
      out.append(line).append(";\n");
      start();
    }
    line += c;
    empty = false;
  }
  return out.append(line).append("\n");
}

}  // namespace zel
