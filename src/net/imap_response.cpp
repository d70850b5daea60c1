// IMAP response lines and tokens.
#include "net/imap_response.h"

#include "platform/ascii_case.h"

namespace zel {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Bytes that end an atom (RFC 3501 atom-specials, less "]" which a section
// inside an atom closes).
bool EndsAtom(char c) {
  return c == ' ' || c == '(' || c == ')' || c == '{' || c == '"' ||
         static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// The next blank-separated word of `text` from `*at`; moves past it and
// one blank.
std::string_view Word(std::string_view text, std::size_t* at) {
  const std::size_t start = *at;
  std::size_t end = text.find(' ', start);
  if (end == std::string_view::npos) end = text.size();
  *at = end < text.size() ? end + 1 : end;
  return text.substr(start, end - start);
}

ImapStatus StatusOf(std::string_view word) {
  if (equalsNoCase(word, "OK")) return ImapStatus::kOk;
  if (equalsNoCase(word, "NO")) return ImapStatus::kNo;
  if (equalsNoCase(word, "BAD")) return ImapStatus::kBad;
  if (equalsNoCase(word, "PREAUTH")) return ImapStatus::kPreauth;
  if (equalsNoCase(word, "BYE")) return ImapStatus::kBye;
  return ImapStatus::kNone;
}

// After a status word at `at`: an optional "[code]" and the text.
void TakeCodeAndText(std::string_view line, std::size_t at, ImapLine& out) {
  if (at < line.size() && line[at] == '[') {
    const std::size_t close = line.find(']', at + 1);
    if (close != std::string_view::npos) {
      out.code = line.substr(at + 1, close - at - 1);
      at = close + 1;
      if (at < line.size() && line[at] == ' ') ++at;
    }
  }
  out.rest = line.substr(at);
}

}  // namespace

bool ImapQuoted(std::string_view text, std::string& out) {
  out.assign(1, '"');
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80 || u == '\r' || u == '\n' || u == 0) return false;
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return true;
}

bool ImapNumber(std::string_view token, std::uint32_t* value) {
  if (token.empty() || token.size() > 10) return false;
  std::uint64_t n = 0;
  for (char c : token) {
    if (!IsDigit(c)) return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (n > 0xFFFFFFFFu) return false;
  *value = static_cast<std::uint32_t>(n);
  return true;
}

ImapLine ParseImapLine(std::string_view line) {
  ImapLine out;
  std::size_t at = 0;
  const std::string_view first = Word(line, &at);
  if (first.empty()) return out;
  if (first == "+") {
    out.kind = ImapLineKind::kContinuation;
    out.rest = line.substr(at);
    return out;
  }
  if (at >= line.size() && line.size() == first.size()) return out;  // no blank after the tag
  std::size_t after = at;
  std::string_view second = Word(line, &after);
  if (first == "*") {
    out.kind = ImapLineKind::kUntagged;
    std::uint32_t number = 0;
    if (ImapNumber(second, &number)) {
      out.number = number;
      out.word = Word(line, &after);
      out.rest = line.substr(after);
      return out;
    }
  } else {
    out.kind = ImapLineKind::kTagged;
    out.tag = first;
  }
  out.status = StatusOf(second);
  if (out.status == ImapStatus::kNone) {
    out.word = second;
    out.rest = line.substr(after);
    return out;
  }
  TakeCodeAndText(line, after, out);
  return out;
}

bool ImapTrailingLiteral(std::string_view line, std::uint64_t* size) {
  if (line.size() < 3 || line.back() != '}') return false;
  std::size_t end = line.size() - 1;
  if (line[end - 1] == '+') --end;
  std::size_t begin = end;
  while (begin > 0 && IsDigit(line[begin - 1])) --begin;
  if (begin == end || begin == 0 || line[begin - 1] != '{' || end - begin > 10) return false;
  std::uint64_t n = 0;
  for (std::size_t i = begin; i < end; ++i) n = n * 10 + static_cast<std::uint64_t>(line[i] - '0');
  if (n > kImapMaxLiteral) return false;
  *size = n;
  return true;
}

bool ImapCodeValue(std::string_view code, std::string_view name, std::uint32_t* value) {
  if (code.size() <= name.size() + 1 || !startsWithNoCase(code, name) || code[name.size()] != ' ') {
    return false;
  }
  std::string_view number = code.substr(name.size() + 1);
  const std::size_t blank = number.find(' ');
  if (blank != std::string_view::npos) number = number.substr(0, blank);
  return ImapNumber(number, value);
}

bool ImapHasCapability(std::string_view words, std::string_view capability) {
  std::size_t at = 0;
  while (at < words.size()) {
    const std::string_view word = Word(words, &at);
    if (equalsNoCase(word, capability)) return true;
  }
  return false;
}

ImapTokens::Token ImapTokens::Next() {
  Token token;
  while (at_ < text_.size() && text_[at_] == ' ') ++at_;
  if (at_ >= text_.size()) return token;
  const std::size_t start = at_;
  const char c = text_[at_];
  if (c == '(') {
    if (depth_ >= kImapMaxDepth) {
      token.kind = Kind::kError;
      return token;
    }
    ++depth_;
    ++at_;
    token.kind = Kind::kOpen;
  } else if (c == ')') {
    if (depth_ == 0) {
      token.kind = Kind::kError;
      return token;
    }
    --depth_;
    ++at_;
    token.kind = Kind::kClose;
  } else if (c == '"') {
    ++at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      if (text_[at_] == '\\') ++at_;
      ++at_;
    }
    if (at_ >= text_.size()) {
      token.kind = Kind::kError;
      at_ = text_.size();
      return token;
    }
    ++at_;
    token.kind = Kind::kQuoted;
  } else if (c == '{') {
    std::uint64_t size = 0;
    if (!ImapTrailingLiteral(text_.substr(start), &size)) {
      token.kind = Kind::kError;
      return token;
    }
    at_ = text_.size();
    token.kind = Kind::kLiteral;
    token.literal = size;
  } else if (EndsAtom(c)) {
    token.kind = Kind::kError;
    return token;
  } else {
    // An atom; a "[" opens a section that runs to its "]", blanks and
    // lists included ("BODY[HEADER.FIELDS (MESSAGE-ID)]").
    while (at_ < text_.size() && !EndsAtom(text_[at_])) {
      if (text_[at_] == '[') {
        const std::size_t close = text_.find(']', at_);
        if (close == std::string_view::npos) {
          token.kind = Kind::kError;
          at_ = text_.size();
          return token;
        }
        at_ = close;
      }
      ++at_;
    }
    token.kind = Kind::kAtom;
  }
  token.text = text_.substr(start, at_ - start);
  return token;
}

std::string ImapTokens::Unquote(std::string_view token) {
  if (token.size() < 2 || token.front() != '"' || token.back() != '"') return std::string(token);
  std::string out;
  out.reserve(token.size() - 2);
  for (std::size_t i = 1; i + 1 < token.size(); ++i) {
    if (token[i] == '\\' && i + 2 < token.size()) ++i;
    out.push_back(token[i]);
  }
  return out;
}

}  // namespace zel
