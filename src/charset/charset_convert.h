// Conversion between the charsets of MIME labels and CP932, the host's text.
//
// Mail names its charset by a label (RFC 2045 `charset=`, RFC 2047 encoded
// words); host text is always CP932. A label is matched without regard to
// case and through its usual aliases (see CanonicalCharset).
//
// Conversions never fail on bad text: toward CP932 a character that CP932
// lacks, and bytes that are no character of the source charset, become the
// mark 〓 (kCp932Geta), as Japanese mail software shows them; away from CP932
// a byte that is no CP932 character, or a character the target lacks,
// becomes the target's replacement ("?"). Each call reports how many such
// replacements it wrote, so a caller can tell a lossless conversion.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace zel {

// 〓 (GETA MARK) in CP932: the stand-in for a character CP932 cannot show.
inline constexpr std::string_view kCp932Geta = "\x81\xAC";

// The canonical name of the charset `label` names (e.g. "UTF-8", "CP932",
// "EUC-JP", "ISO-8859-1", "WINDOWS-1252", "ISO-2022-JP"), or an empty view
// when the label is unknown to this build. Surrounding blanks and quotes are
// not part of a label (the caller removes them).
std::string_view CanonicalCharset(std::string_view label);

// True when this platform can convert the charset `label` names.
bool IsKnownCharset(std::string_view label);

// A conversion between one charset and CP932, over text that may arrive in
// pieces (a body block by block): a character cut at the end of a piece is
// completed by the next one, and shift states (ISO-2022-JP, UTF-7) carry
// over. Not copyable; one object per text.
class CharsetConverter {
 public:
  enum class Direction {
    kToCp932,    // bytes in the named charset -> CP932
    kFromCp932,  // CP932 -> bytes in the named charset
  };

  CharsetConverter();
  ~CharsetConverter();
  CharsetConverter(const CharsetConverter&) = delete;
  CharsetConverter& operator=(const CharsetConverter&) = delete;

  // Prepares the conversion between the charset `label` and CP932 in
  // `direction`, dropping any earlier state. Returns false (and the object
  // converts nothing) when the charset is unknown.
  bool Open(std::string_view label, Direction direction);

  bool IsOpen() const { return state_ != nullptr; }

  // Appends the converted form of `piece` to `out`. With `last` false an
  // incomplete character at the end of `piece` is held back for the next
  // call; with `last` true the text ends here: a held-back or cut character
  // becomes a replacement and a shift state is closed. Returns the number of
  // replacements written by this call (0 when the converter is not open).
  std::size_t Convert(std::string_view piece, std::string& out, bool last);

  struct State;  // backend state

 private:
  std::unique_ptr<State> state_;
};

// One-shot forms of CharsetConverter for a whole text: append the converted
// `text` to `out`. Return false (out unchanged) when the charset is unknown.
// `replaced`, when given, receives the number of replacements written.
bool ConvertToCp932(std::string_view label, std::string_view text, std::string& out,
                    std::size_t* replaced = nullptr);
bool ConvertFromCp932(std::string_view label, std::string_view text, std::string& out,
                      std::size_t* replaced = nullptr);

// Appends the Unicode code point `c` to `out` as CP932: 〓 when CP932 has
// no such character (as the conversions write it). Returns 1 when it wrote
// 〓, else 0.
std::size_t AppendCodePointAsCp932(char32_t c, std::string& out);

}  // namespace zel
