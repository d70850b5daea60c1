// Recipient normalisation of the send path.
#include "codec/recipient_list.h"

#include "platform/sjis_text.h"

namespace zel {
namespace {

// TAB, LF, ";" and ","; every other control byte as well (a CR inside an
// address would split the RCPT TO command line at some servers).
bool IsSeparator(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == ';' || c == ',';
}

// Length of the character at `i` (2 for a Shift-JIS pair, else 1).
std::size_t CharLength(std::string_view text, std::size_t i) {
  return IsSjisLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

// The address of one item: the text inside its first angle brackets (outside
// quotes), or else the item without its comments. Blanks are removed.
std::string ItemAddress(std::string_view item) {
  // An unbalanced quote is no quote: its text stays visible to the search.
  std::size_t quotes = 0;
  for (std::size_t i = 0; i < item.size(); i += CharLength(item, i)) {
    if (item[i] == '"') ++quotes;
  }
  const char quote = quotes % 2 == 0 ? '"' : '\0';
  // Look for "<...>" outside quoted strings and comments.
  bool quoted = false;
  int depth = 0;
  for (std::size_t i = 0; i < item.size(); i += CharLength(item, i)) {
    const char c = item[i];
    if (quoted) {
      if (c == quote) quoted = false;
    } else if (c == quote && depth == 0) {
      quoted = true;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (c == '<' && depth == 0) {
      const std::size_t close = item.find('>', i + 1);
      if (close == std::string_view::npos) break;
      std::string address;
      for (char a : item.substr(i + 1, close - i - 1)) {
        if (a != ' ') address += a;
      }
      return address;
    }
  }
  // No angle brackets: drop the comments (nested ones included) and blanks.
  std::string address;
  depth = 0;
  quoted = false;
  for (std::size_t i = 0; i < item.size();) {
    const std::size_t n = CharLength(item, i);
    const char c = item[i];
    if (depth == 0 && c == quote) quoted = !quoted;
    if (!quoted && c == '(') {
      ++depth;
    } else if (!quoted && c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0 && c != ' ') {
      address.append(item.substr(i, n));
    }
    i += n;
  }
  if (depth > 0) {
    // An unclosed comment is no comment: keep the whole item, so that the
    // server refuses it by name instead of it vanishing.
    address.clear();
    for (char a : item) {
      if (a != ' ') address += a;
    }
  }
  return address;
}

// Splits one line of the collected text into items and appends their
// addresses to `result`. Quotes and comments protect separators only when
// they are balanced on the line, so an unclosed one never hides an address.
void AppendLine(std::string_view line, std::string& result) {
  std::size_t quotes = 0;
  int open = 0;
  bool balanced = true;
  for (std::size_t i = 0; i < line.size(); i += CharLength(line, i)) {
    if (line[i] == '"') ++quotes;
    if (line[i] == '(') ++open;
    if (line[i] == ')' && --open < 0) balanced = false;
  }
  const bool protect = balanced && open == 0 && quotes % 2 == 0;
  std::size_t start = 0;
  bool quoted = false;
  int depth = 0;
  for (std::size_t i = 0; i <= line.size();) {
    const bool end = i == line.size();
    const char c = end ? '\0' : line[i];
    const bool control = !end && static_cast<unsigned char>(c) < 0x20;
    if (end || control || (!quoted && depth == 0 && IsSeparator(c))) {
      const std::string address = ItemAddress(line.substr(start, i - start));
      if (!address.empty()) {
        if (!result.empty()) result += ',';
        result += address;
      }
      start = i + 1;
      ++i;
      continue;
    }
    if (protect) {
      if (c == '"' && depth == 0) {
        quoted = !quoted;
      } else if (!quoted && c == '(') {
        ++depth;
      } else if (!quoted && c == ')' && depth > 0) {
        --depth;
      }
    }
    i += CharLength(line, i);
  }
}

}  // namespace

std::string NormaliseRecipients(std::string_view collected) {
  std::string result;
  std::size_t start = 0;
  while (start <= collected.size()) {
    std::size_t end = collected.find('\n', start);
    if (end == std::string_view::npos) end = collected.size();
    AppendLine(collected.substr(start, end - start), result);
    start = end + 1;
  }
  return result;
}

}  // namespace zel
