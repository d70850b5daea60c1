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
// charset. A line whose words are all ISO-2022-JP or in charsets this build
// does not know is decoded by decodeHeaderLine itself, byte for byte.
// Otherwise adjacent words of one charset are joined before they are
// converted to Shift-JIS (a character split across two words comes out
// whole), an underscore of their Q words is a blank, and the rest of the
// line (text, ISO-2022-JP and unknown words) takes the classic path. A
// character Shift-JIS lacks becomes 〓. The result is one line as
// decodeHeaderLine's is, but may be longer than the source.
std::string decodeHeaderWords(std::string_view line);

// hasConvertedWords: true when `line` holds an encoded word in a charset
// decodeHeaderWords converts (so that decodeHeaderLine would not read it).
bool hasConvertedWords(std::string_view line);

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
