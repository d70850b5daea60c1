// The pieces of IMAP4rev1 server responses (RFC 3501 7, 9): the kind and
// status of a response line, its response code, the literal announced at
// its end, and the tokens of its data (atoms, numbers, quoted strings,
// literals, nested lists). Pure functions over the caller's text; no
// allocation beyond the token a caller asks to be unquoted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

// Largest literal size taken from a "{n}": a message is at most 4 GB here
// (the listing keeps 32-bit sizes); a larger count is a broken response.
inline constexpr std::uint64_t kImapMaxLiteral = 0xFFFFFFFFu;
// Deepest list nesting the tokenizer follows: far beyond what the client
// asks for (FETCH items, flag lists), low enough to bound the state.
inline constexpr int kImapMaxDepth = 64;

enum class ImapLineKind {
  kUntagged,      // "* ..."
  kContinuation,  // "+ ..."
  kTagged,        // "TAG ..."
  kMalformed,     // empty, or no blank after the tag
};

enum class ImapStatus { kNone, kOk, kNo, kBad, kPreauth, kBye };

// One response line (without its CR LF) taken apart.
struct ImapLine {
  ImapLineKind kind = ImapLineKind::kMalformed;
  std::string_view tag;    // the tag of a tagged line
  ImapStatus status = ImapStatus::kNone;  // OK, NO, BAD, PREAUTH, BYE
  std::uint32_t number = 0;  // "* n WORD": the n (0 when absent)
  std::string_view word;     // "* n WORD" / "* WORD": WORD (EXISTS, FETCH, SEARCH...)
  std::string_view code;     // the response code inside "[...]" after a status
  std::string_view rest;     // what follows the status and code, or the WORD
};

// ParseImapLine - takes `line` apart. Never fails: a line of no known form
// comes back as kMalformed, or with status kNone.
ImapLine ParseImapLine(std::string_view line);

// ImapTrailingLiteral - true when `line` ends with a literal announcement
// "{n}" (or the non-synchronizing "{n+}") with n <= kImapMaxLiteral; `*size`
// receives n. The bytes of the literal follow the line's CR LF.
bool ImapTrailingLiteral(std::string_view line, std::uint64_t* size);

// ImapCodeValue - the number after `name` in a response code such as
// "UIDVALIDITY 3857529045" (name matched in any case). Returns false when
// `code` is not that code or the number does not fit 32 bits.
bool ImapCodeValue(std::string_view code, std::string_view name, std::uint32_t* value);

// ImapHasCapability - true when `words` (a CAPABILITY response's atoms, or
// the text of a "[CAPABILITY ...]" code) names `capability`, in any case.
bool ImapHasCapability(std::string_view words, std::string_view capability);

// The tokens of response data, one after another.
class ImapTokens {
 public:
  enum class Kind {
    kEnd,      // nothing more on the line
    kAtom,     // an atom, NIL or a number; "BODY[...]" with its section is one atom
    kQuoted,   // a quoted string (Unquote gives its text)
    kLiteral,  // "{n}" at the end of the line; size in `literal`
    kOpen,     // "("
    kClose,    // ")"
    kError,    // a byte no token starts with, an open quote, too deep a list
  };
  struct Token {
    Kind kind = Kind::kEnd;
    std::string_view text;  // the token as it stands (quotes included)
    std::uint64_t literal = 0;
  };

  // Tokens of `text`, starting `depth` lists deep (the rest of a line
  // that a literal interrupted continues its lists).
  explicit ImapTokens(std::string_view text, int depth = 0) : text_(text), depth_(depth) {}

  Token Next();
  int Depth() const { return depth_; }

  // The text of a quoted-string token: quotes removed, "\\" and "\""
  // unescaped. An atom comes back unchanged.
  static std::string Unquote(std::string_view token);

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  int depth_ = 0;
};

// ImapQuoted - `text` as a quoted string ("\\" and "\"" escaped) into
// `out`. Returns false when it needs a literal instead: it holds an 8-bit
// byte, CR, LF or NUL.
bool ImapQuoted(std::string_view text, std::string& out);

// ImapNumber - `token` as a 32-bit unsigned number; false when it is not
// all digits or too large.
bool ImapNumber(std::string_view token, std::uint32_t* value);

}  // namespace zel
