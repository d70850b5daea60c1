// Encoded words (RFC 2047) of incoming header lines: the scan both header
// decoders share, and the decoder of words in any charset.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zel {

// One stretch of a header line as the scan reads it.
struct WordPiece {
  enum class Kind {
    kText,       // ordinary text, as it stands
    kWord,       // a B or Q word: `bytes` are its decoded bytes
    kMalformed,  // "=?" that makes no B or Q word: copied through its "?="
  };
  Kind kind = Kind::kText;
  std::string_view charset;  // the word's charset label (kWord)
  std::string bytes;
  // A word (or malformed word) that follows another with nothing or only
  // blanks between them: those blanks are no part of the text.
  bool adjacent = false;
  // A Q word whose underscores were read as blanks.
  bool blanked = false;
};

// Tells whether an underscore of a Q word in `charset` stands for a blank.
using UnderscoreRule = bool (*)(std::string_view charset);

// scanEncodedWords: splits `line` into pieces, reading words exactly as the
// classic decoder does: a B word decodes groups of four characters up to
// "?=" (a group cut by the end of the line ends the word, its characters
// read on as text; a character outside the alphabet counts as "A"); a Q
// word decodes "=XX" (an "=" before another character is dropped, one with
// fewer than two characters after it ends the word) and keeps an
// underscore unless `blankUnderscore` says otherwise for its charset.
// Appends the pieces to `pieces`.
void scanEncodedWords(std::string_view line, std::vector<WordPiece>& pieces,
                      UnderscoreRule blankUnderscore = nullptr);

// decodeHeaderWords: decodeHeaderLine (encoded_word.h) for words in any
// charset. Adjacent words of one charset are joined before they are
// converted to Shift-JIS (a character split across two words comes out
// whole); the rest of the line - text, ISO-2022-JP words and words in
// charsets this build does not know - takes the classic path, but for text
// outside words with bytes above 0x7F that GuessCharset (charset_guess.h)
// takes for UTF-8 (RFC 6532 and senders that write it raw) or EUC-JP, which
// is converted. An underscore
// of a Q word in a charset this build knows is a blank (RFC 2047), one of
// an unknown charset stays as the classic decoder leaves it. A character
// Shift-JIS lacks becomes 〓. The result is one line as decodeHeaderLine's
// is, but may be longer than the source. A line where none of this makes
// a difference (decodesDifferently) is decodeHeaderLine's, byte for byte.
std::string decodeHeaderWords(std::string_view line);

// decodesDifferently: true when decodeHeaderWords reads `line` otherwise
// than decodeHeaderLine: it holds a word in a charset that is converted, a
// Q word whose underscores are blanks, or raw UTF-8 or EUC-JP text.
bool decodesDifferently(std::string_view line);

// finishHeaderLine: the end of both header decoders: every byte below 0x20
// other than TAB in the decoded `out` becomes a blank (blankControlBytes),
// and `out` ends with a line feed exactly when `source` did.
void finishHeaderLine(std::string_view source, std::string& out);

// convertsCharset: true when text in the charset `label` is converted to
// Shift-JIS by the decoders: a charset this build knows, other than
// ISO-2022-JP (whose text takes the classic path) and US-ASCII. An RFC 2231
// language suffix ("utf-8*ja") is no part of the label.
bool convertsCharset(std::string_view label);

}  // namespace zel
