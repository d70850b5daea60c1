// Header lines with MIME encoded words (RFC 2047).
//
// Outgoing header lines carry Japanese text as "=?ISO-2022-JP?B?...?=" words;
// incoming lines may carry B and Q words in any charset, of which only
// ISO-2022-JP (and ASCII) come out as readable Shift-JIS.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zel {

// Estimated encoded length past which encodeHeaderLine folds a line.
inline constexpr int kFoldEstimate = 1000;

// The rules outgoing encoded words follow.
struct WordRules {
  // false: as Japanese mail programs have always written them (CHARSET
  // "ISO-2022-JP-EXT"): a word for each run of Japanese text, the ASCII
  // text beside it outside the word, ISO-2022-JP with NEC row 13.
  // true: whole words (RFC 2047, 5): a word takes in the ASCII text beside
  // its run up to the next blank, so that it stands between blanks or the
  // ends of the field (readers drop text glued to a word, or keep the word
  // undecoded); ISO-2022-JP of JIS X 0208 alone, as strict readers decode it.
  bool whole = false;
  // With `whole`, in fields of addresses: "<", ">", ",", ";", ":" and '"'
  // end a word too, so that no address or quote goes inside one.
  bool addresses = false;
};

// encodeHeaderLine: encodes one Shift-JIS header line (name and line feed
// included). Each run of Japanese text becomes one encoded word carrying the
// run with its escapes (with whole words, and the ASCII text beside it);
// other ASCII text is copied unchanged; a line whose length estimate passes
// kFoldEstimate is folded after a Japanese character or an ASCII blank that
// has more than blanks after it on its line (continuation lines start with
// a blank and never hold blanks alone; with whole words never between a
// Japanese character and ASCII text glued to it).
// Returns the encoded line. Nothing of the text is ever cut.
std::string encodeHeaderLine(std::string_view source, WordRules rules = {});

// encodeHeaderPart: encodeHeaderLine for one part of a line too long to be
// encoded at once. The parts, encoded in order and written one after the
// other, make one header line: the estimate runs on from part to part, and
// no part ends on a fold, so its last physical line runs on into the next.
//   estimate  the fold estimate where the previous part ended (0 before the
//             first part); updated for the next part
//   carried   when given, set to false when the text holds a byte or
//             character ISO-2022-JP cannot carry (jis_repertoire.h); the
//             line is then converted by the classic arithmetic of sjisToJis
//             and may keep bytes of 0x80 and above
// Blanks between two runs of Japanese text (with whole words, between two
// words) travel inside the word that carries both (a reader drops white
// space between two words); where the line is folded among them they end
// the word before the fold.
std::string encodeHeaderPart(std::string_view source, int& estimate, bool* carried = nullptr,
                             WordRules rules = {});

// How a UTF-8 header line is encoded, and where a line encoded in parts
// stands between two parts.
struct Utf8HeaderFold {
  bool wholeRuns = false;   // each run one word (address fields, file names)
  bool wholeWords = false;  // whole words (WordRules::whole; with wholeRuns,
                            // the address characters end a word too)
  std::size_t column = 0;   // characters on the current physical line
  unsigned tokens = 0;      // tokens on it (the field name is the first)
  bool folded = false;      // the line was folded before
  bool wordEnds = false;    // the text so far ends with an encoded word
};

// encodeUtf8HeaderLine: encodes one UTF-8 header line (name and line feed
// included) with "=?UTF-8?B?...?=" words. Each run of characters beyond
// ASCII, with the blanks between it and the next such run, becomes encoded
// words of at most 75 characters (whole characters each, a multiple of
// three bytes but for the last, one blank between two of them); with
// `wholeWords` a run takes in the ASCII text beside it up to the next
// blank, and the blanks up to the next text that holds such characters;
// other ASCII text is copied unchanged; the line is folded before a blank
// where it would pass 76 characters (never right after the field name,
// never leaving blanks alone on a line). With `wholeRuns` a run stays one
// word unless it is very long: some readers (Python's email) show a blank
// between two words of a display name. Returns the encoded line.
std::string encodeUtf8HeaderLine(std::string_view source, bool wholeRuns = false,
                                 bool wholeWords = false);

// encodeUtf8HeaderPart: encodeUtf8HeaderLine for one part of a line encoded
// in parts (see encodeHeaderPart); `fold` carries the position from part to
// part (a default one before the first).
std::string encodeUtf8HeaderPart(std::string_view source, Utf8HeaderFold& fold);

// encodeIso2022JpWord: the Shift-JIS `text` as one "=?ISO-2022-JP?B?...?="
// word of JIS X 0208 however long, for a value no fold may cut (a quoted
// file name). `carried` is set to false, and "" returned, when
// ISO-2022-JP cannot carry the text.
std::string encodeIso2022JpWord(std::string_view text, bool& carried);

// encodeUtf8Word: the UTF-8 `text` as one "=?UTF-8?B?...?=" word however long.
std::string encodeUtf8Word(std::string_view text);

// decodeHeaderLine: decodes the B and Q encoded words of one header line and
// converts the result from ISO-2022-JP to Shift-JIS. Blanks between two
// adjacent encoded words are removed; a malformed word is copied as it is.
// Every byte below 0x20 other than TAB in the result (a decoded CR or LF, a
// NUL, a stray ESC), except the line's own final line feed, becomes a blank,
// so a decoded line is always exactly one line.
//   source       NUL-terminated line (first form) or the text (second form)
//   destination  at least strlen(source) + 1 bytes; may equal `source`
// Returns the length of the result (never longer than the source).
std::size_t decodeHeaderLine(const char* source, char* destination);
std::string decodeHeaderLine(std::string_view source);

// blankControlBytes: turns every byte below 0x20 other than TAB in `line`
// into a blank, except a line feed at its end, so that no CR, line feed or
// escape inside the line can make a reader see a line of its own.
void blankControlBytes(std::string& line);

}  // namespace zel
