// Fuzzes the IMAP response parser and the mailbox-name codec: every line
// of the input is taken apart and tokenized to its end without overrun;
// tokens stay inside their line, lists never close below depth 0 nor go
// past kImapMaxDepth; a literal size is what "{n}" said; a mailbox name
// that decodes encodes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codec/imap_folder_name.h"
#include "net/imap_response.h"

namespace {

void CheckLine(std::string_view line, int& depth) {
  const zel::ImapLine parsed = zel::ParseImapLine(line);
  for (std::string_view part : {parsed.tag, parsed.word, parsed.code, parsed.rest}) {
    if (!part.empty() && (part.data() < line.data() || part.data() + part.size() > line.data() + line.size())) {
      std::abort();
    }
  }
  std::uint64_t size = 0;
  if (zel::ImapTrailingLiteral(line, &size) && size > zel::kImapMaxLiteral) std::abort();
  std::uint32_t value = 0;
  zel::ImapCodeValue(parsed.code, "UIDVALIDITY", &value);
  zel::ImapHasCapability(parsed.rest, "IDLE");
  zel::ImapTokens tokens(line, depth);
  for (int guard = 0;; ++guard) {
    if (guard > static_cast<int>(line.size()) + 1) std::abort();  // every token consumes input
    const zel::ImapTokens::Token token = tokens.Next();
    if (token.kind == zel::ImapTokens::Kind::kEnd || token.kind == zel::ImapTokens::Kind::kError) break;
    if (token.text.data() < line.data() || token.text.data() + token.text.size() > line.data() + line.size()) {
      std::abort();
    }
    if (tokens.Depth() < 0 || tokens.Depth() > zel::kImapMaxDepth) std::abort();
    if (token.kind == zel::ImapTokens::Kind::kQuoted) {
      if (zel::ImapTokens::Unquote(token.text).size() > token.text.size()) std::abort();
    }
  }
  depth = tokens.Depth();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int depth = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    CheckLine(text.substr(at, end - at), depth);
    at = end + 2;
  }
  std::string utf8, again;
  if (zel::ImapUtf7ToUtf8(text, utf8)) {
    if (!zel::ImapUtf7FromUtf8(utf8, again)) std::abort();
    zel::ImapUtf7ToUtf8(again, utf8);
  }
  zel::ImapUtf7FromUtf8(text, again);
  // A quoted string reads back as the text it quotes.
  std::string quoted;
  if (zel::ImapQuoted(text, quoted) && zel::ImapTokens::Unquote(quoted) != text) std::abort();
  return 0;
}
