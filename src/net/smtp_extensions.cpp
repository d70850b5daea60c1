// ESMTP extensions of an EHLO reply and the AUTH PLAIN / LOGIN lines.
#include "net/smtp_extensions.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/ascii_case.h"
#include "codec/base64.h"
#include "platform/sjis_text.h"

namespace zel {

namespace {

// Position of the first keyword of a reply line: after "250-" or "250 ".
constexpr std::size_t kKeywordStart = 4;
// NUL, user, NUL, password: two account fields (each with room for a NUL).
constexpr std::size_t kPlainMessageSize = 2 * kAccountSize;

// Splits `text` at blanks and hands each word to `take`.
template <typename Take>
void ForEachWord(std::string_view text, Take take) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(' ', start), text.size());
    if (end > start) take(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

void NoteEhloLine(const char* line, bool first, SmtpExtensions& extensions) {
  if (first || std::strlen(line) <= kKeywordStart) return;
  const std::string_view text(line + kKeywordStart);
  const std::size_t keywordEnd = std::min(text.find_first_of(" ="), text.size());
  const std::string_view keyword = text.substr(0, keywordEnd);
  if (equalsNoCase(keyword, "STARTTLS")) {
    extensions.startTls = true;
  } else if (equalsNoCase(keyword, "AUTH")) {
    const std::string_view mechanisms =
        keywordEnd < text.size() ? text.substr(keywordEnd + 1) : std::string_view();
    ForEachWord(mechanisms, [&](std::string_view word) {
      if (equalsNoCase(word, "PLAIN")) extensions.authPlain = true;
      if (equalsNoCase(word, "LOGIN")) extensions.authLogin = true;
    });
  }
}

bool AuthPlainCommand(const char* user, const char* password, char* out, std::size_t size) {
  static constexpr std::string_view kCommand = "AUTH PLAIN ";
  const std::size_t userLength = std::strlen(user);
  const std::size_t passwordLength = std::strlen(password);
  const std::size_t length = userLength + passwordLength + 2;
  if (length > kPlainMessageSize || kCommand.size() + base64EncodedSize(length) >= size) {
    WipeSecret(out, size);
    return false;
  }
  char message[kPlainMessageSize];
  message[0] = '\0';
  std::memcpy(message + 1, user, userLength);
  message[userLength + 1] = '\0';
  std::memcpy(message + userLength + 2, password, passwordLength);
  std::memcpy(out, kCommand.data(), kCommand.size());
  base64Encode(message, length, out + kCommand.size());
  WipeSecret(message, sizeof message);
  return true;
}

bool AuthLoginResponse(const char* text, char* out, std::size_t size) {
  const std::size_t length = std::strlen(text);
  if (base64EncodedSize(length) >= size) {
    WipeSecret(out, size);
    return false;
  }
  base64Encode(text, length, out);
  return true;
}

void WipeSecret(void* buffer, std::size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
  while (size-- > 0) *p++ = 0;
}

}  // namespace zel
