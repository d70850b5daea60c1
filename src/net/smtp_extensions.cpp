// ESMTP extensions of an EHLO reply.
#include "net/smtp_extensions.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/ascii_case.h"

namespace zel {

namespace {
// Position of the first keyword of a reply line: after "250-" or "250 ".
constexpr std::size_t kKeywordStart = 4;
}  // namespace

void NoteEhloLine(const char* line, bool first, SmtpExtensions& extensions) {
  if (first || std::strlen(line) <= kKeywordStart) return;
  const std::string_view text(line + kKeywordStart);
  const std::size_t keywordEnd = std::min(text.find_first_of(" ="), text.size());
  const std::string_view keyword = text.substr(0, keywordEnd);
  if (equalsNoCase(keyword, "STARTTLS")) {
    extensions.startTls = true;
  } else if (equalsNoCase(keyword, "AUTH") && keywordEnd < text.size()) {
    NoteSaslMechanisms(text.substr(keywordEnd + 1), extensions.auth);
  }
}

}  // namespace zel
