#include "net/protocol_trace.h"

#include <cstdio>

#include "platform/ascii_case.h"

namespace zel {

namespace {

constexpr std::string_view kMask = "********";

// The words of `line` (split at blanks), at most `count`; the last takes
// the rest of the line.
std::size_t WordStart(std::string_view line, std::size_t index) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < index; ++i) {
    at = line.find(' ', at);
    if (at == std::string_view::npos) return line.size();
    ++at;
  }
  return at;
}

std::string_view Word(std::string_view line, std::size_t index) {
  const std::size_t at = WordStart(line, index);
  return line.substr(at, line.find(' ', at) - at);
}

}  // namespace

std::string ProtocolTrace::Masked(std::string_view line, bool challenged) {
  if (challenged) return std::string(kMask);
  // Where the secret starts: after this many words.
  std::size_t keep = 0;
  const std::string_view first = Word(line, 0);
  const std::string_view second = Word(line, 1);
  if (equalsNoCase(first, "PASS")) keep = 1;
  else if (equalsNoCase(first, "APOP")) keep = 2;
  else if (equalsNoCase(first, "AUTH")) keep = 2;                  // POP3, SMTP: AUTH mechanism initial
  else if (equalsNoCase(second, "AUTHENTICATE")) keep = 3;         // IMAP: tag AUTHENTICATE mechanism initial
  else if (equalsNoCase(second, "LOGIN")) keep = 3;                // IMAP: tag LOGIN user password
  else return std::string(line);
  const std::size_t at = WordStart(line, keep);
  if (at >= line.size()) return std::string(line);
  return std::string(line.substr(0, at)) + std::string(kMask);
}

void ProtocolTrace::Sent(std::string_view line) {
  if (!on_) return;
  Write("-> ", Masked(line, challenged_));
  challenged_ = false;
}

void ProtocolTrace::Received(std::string_view line) {
  if (!on_) return;
  challenged_ = line == "+" || line.starts_with("+ ") || line.starts_with("334 ") || line == "334";
  Write("<- ", line);
}

void ProtocolTrace::Write(const char* direction, std::string_view line) {
  std::string text = direction;
  text += line;
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace zel
