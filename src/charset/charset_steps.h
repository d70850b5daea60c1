// The conversions behind CharsetConverter (platform-internal).
//
// The charsets of Japanese mail and the UTFs are converted by own code over
// one CP932 table (cp932_table.h), the same on every platform; every other
// charset goes through the platform's backend into Unicode code points and
// from there through the same table.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "charset/charset_convert.h"
#include "charset/cp932_table.h"

namespace zel::charset {

// Stands for bytes that are no character of their charset.
inline constexpr char32_t kInvalid = 0xFFFFFFFF;

// A character that a conversion cannot write, away from CP932.
inline constexpr char kQuestionMark = '?';

// One conversion between a charset and CP932, over text in pieces.
class Step {
 public:
  virtual ~Step() = default;
  // As CharsetConverter::Convert.
  virtual std::size_t Convert(std::string_view piece, std::string& out, bool last) = 0;
};

// appendCp932: writes the code point `c` as CP932: 〓 when CP932 has no
// such character (kInvalid included).
// Returns 1 when it wrote 〓, else 0.
inline std::size_t appendCp932(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return 0;
  }
  const unsigned code = c == kInvalid ? 0 : unicodeToCp932(c);
  if (code == 0) {
    out.append(kCp932Geta);
    return 1;
  }
  if (code > 0xFF) out.push_back(static_cast<char>(code >> 8));
  out.push_back(static_cast<char>(code & 0xFF));
  return 0;
}

// The backend: bytes of a charset the platform knows <-> code points.
class WideCodec {
 public:
  virtual ~WideCodec() = default;
  // Appends the code points of `piece` to `wide`, kInvalid for each
  // sequence that is no character. With `last` false an incomplete
  // character at the end is held back for the next call.
  virtual void Decode(std::string_view piece, std::u32string& wide, bool last) = 0;
  // Appends the bytes of `wide`; a code point the charset lacks (and
  // kInvalid) becomes "?". With `last` a shift state is closed.
  // Returns the number of "?" written for such code points.
  virtual std::size_t Encode(std::u32string_view wide, std::string& out, bool last) = 0;
};

// Opens the backend for the canonical charset name `canonical`, for
// decoding (`decode`) or encoding. Returns nullptr when the platform does
// not know the charset. Implemented once per backend.
std::unique_ptr<WideCodec> openWideCodec(std::string_view canonical, bool decode);

// The own conversion of `canonical` in `direction`, or nullptr when the
// charset is left to the backend (charset_own.cpp).
std::unique_ptr<Step> openOwnStep(std::string_view canonical, CharsetConverter::Direction direction);

// Reads CP932 text into code points, a character cut at the end of a piece
// held for the next (kInvalid for a byte that is no character).
class Cp932Reader {
 public:
  void Decode(std::string_view piece, std::u32string& wide, bool last);

 private:
  int heldLead_ = -1;  // a lead byte that ended the last piece
};

}  // namespace zel::charset
