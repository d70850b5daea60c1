// The own conversions: UTF-8 and UTF-16 both ways, CP932 itself (through
// Unicode, so that the duplicate codes of the NEC and IBM rows come out as
// Windows writes them), and ISO-2022-JP and US-ASCII toward CP932. UTF-8 to
// CP932 is the hot path of reading mail: one table lookup per character and
// eight ASCII bytes at a time.
#include <cstdint>
#include <cstring>

#include "charset/charset_steps.h"

namespace zel::charset {
namespace {

using Direction = CharsetConverter::Direction;

// readUtf8: the character at `p` (n > 0 bytes there).
// Returns its length (> 0, code point in `c`); minus the length of an
// ill-formed part that one mark replaces (the longest start of a valid
// sequence, at least one byte), as the Unicode standard recommends; 0 when
// the n bytes are a valid start of a character cut by the end of the text.
int readUtf8(const unsigned char* p, std::size_t n, char32_t& c) {
  const unsigned lead = p[0];
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  int need;
  unsigned low = 0x80, high = 0xBF;  // range of the second byte
  if (lead < 0xC2) return -1;
  if (lead < 0xE0) {
    need = 1;
    c = lead & 0x1F;
  } else if (lead < 0xF0) {
    need = 2;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong form
    if (lead == 0xED) high = 0x9F;  // no surrogate
  } else if (lead < 0xF5) {
    need = 3;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i <= need; ++i) {
    if (static_cast<std::size_t>(i) >= n) return 0;
    const unsigned t = p[i];
    if (t < low || t > high) return -i;
    low = 0x80;
    high = 0xBF;
    c = c << 6 | (t & 0x3F);
  }
  return need + 1;
}


void appendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The text of this call: what an earlier piece held back, then `piece`.
std::string_view joinHeld(std::string& held, std::string_view piece, std::string& joined) {
  if (held.empty()) return piece;
  joined = std::move(held);
  held.clear();
  joined.append(piece);
  return joined;
}

class Utf8ToCp932 final : public Step {
 public:
  std::size_t Convert(std::string_view piece, std::string& out, bool last) override {
    std::string joined;
    piece = joinHeld(held_, piece, joined);
    const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
    const auto* const end = p + piece.size();
    // Valid text never grows (three bytes of Japanese become two); marks
    // for invalid bytes may, and then `out` grows as it must.
    out.reserve(out.size() + piece.size());
    // The output goes through a block on the stack: no zero-filled room in
    // `out`, one append per block.
    char block[kBlock];
    char* d = block;
    char* const full = block + kBlock - 8;  // room for one more character
    std::size_t replaced = 0;
    const std::uint16_t* const table = cp932OutputTable();
    while (p < end) {
      if (d >= full) {
        out.append(block, d);
        d = block;
      }
      const unsigned lead = *p;
      if (lead < 0x80) {
        // ASCII, eight bytes at a time.
        while (end - p >= 8 && d < full) {
          std::uint64_t word;
          std::memcpy(&word, p, 8);
          if ((word & 0x8080808080808080ULL) != 0) break;
          std::memcpy(d, p, 8);
          d += 8;
          p += 8;
        }
        while (p < end && *p < 0x80 && d < full) *d++ = static_cast<char>(*p++);
        continue;
      }
      // A run of the three-byte characters of Japanese text, without the
      // checks that only E0 and ED need; anything else takes the general
      // path below.
      while (end - p >= 3 && d < full) {
        const unsigned l = p[0];
        if (l < 0xE1 || l > 0xEF || l == 0xED || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) break;
        const std::uint16_t bytes = table[(l & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F)];
        if (bytes <= 0xFF) break;
        std::memcpy(d, &bytes, 2);
        d += 2;
        p += 3;
      }
      if (p >= end || *p < 0x80 || d >= full) continue;
      char32_t c;
      int n = readUtf8(p, static_cast<std::size_t>(end - p), c);
      if (n == 0) {
        if (!last) {
          held_.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
          break;
        }
        n = -static_cast<int>(end - p);
      }
      const std::uint16_t bytes = n > 0 && c <= 0xFFFF ? table[c] : 0;
      p += n > 0 ? n : -n;
      if (bytes > 0xFF) {
        std::memcpy(d, &bytes, 2);
        d += 2;
      } else if (bytes != 0) {
        *d++ = static_cast<char>(bytes);
      } else {
        *d++ = kCp932Geta[0];
        *d++ = kCp932Geta[1];
        ++replaced;
      }
    }
    out.append(block, d);
    return replaced;
  }

 private:
  static constexpr std::size_t kBlock = 16 * 1024;
  std::string held_;  // a character cut by the end of the last piece
};

// UTF-16 toward CP932: "UTF-16" reads a byte-order mark and is big-endian
// without one (RFC 2781); the labelled byte orders take no mark.
class Utf16ToCp932 final : public Step {
 public:
  Utf16ToCp932(bool bigEndian, bool detect) : bigEndian_(bigEndian), detect_(detect) {}

  std::size_t Convert(std::string_view piece, std::string& out, bool last) override {
    std::string joined;
    piece = joinHeld(held_, piece, joined);
    std::size_t i = 0;
    if (detect_) {
      if (piece.size() < 2 && !last) {
        held_ = std::string(piece);  // (not assign: GCC 12 warns falsely of an overlap)
        return 0;
      }
      detect_ = false;
      if (piece.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(piece[0]), b1 = static_cast<unsigned char>(piece[1]);
        if (b0 == 0xFE && b1 == 0xFF) bigEndian_ = true, i = 2;
        if (b0 == 0xFF && b1 == 0xFE) bigEndian_ = false, i = 2;
      }
    }
    std::size_t replaced = 0;
    for (; i + 1 < piece.size(); i += 2) {
      const auto b0 = static_cast<unsigned char>(piece[i]), b1 = static_cast<unsigned char>(piece[i + 1]);
      const char32_t unit = bigEndian_ ? (b0 << 8 | b1) : (b1 << 8 | b0);
      if (high_ != 0) {
        const char32_t high = high_;
        high_ = 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
          replaced += appendCp932(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
          continue;
        }
        replaced += appendCp932(kInvalid, out);  // a high surrogate alone
      }
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        high_ = unit;
      } else {
        replaced += appendCp932(unit >= 0xDC00 && unit <= 0xDFFF ? kInvalid : unit, out);
      }
    }
    if (i < piece.size()) {
      if (!last) {
        held_.assign(piece.substr(i));
      } else {
        replaced += appendCp932(kInvalid, out);  // half a code unit
      }
    }
    if (last && high_ != 0) {
      high_ = 0;
      replaced += appendCp932(kInvalid, out);
    }
    return replaced;
  }

 private:
  bool bigEndian_;
  bool detect_;
  char32_t high_ = 0;  // a high surrogate waiting for its low one
  std::string held_;
};

// CP932 read through Unicode and written again: toward CP932 (the Shift_JIS
// labels), duplicates and invalid bytes are normalised; away from CP932 into
// UTF-8 or UTF-16.
class FromCp932Text final : public Step {
 public:
  enum class Target { kCp932, kUtf8, kUtf16Be, kUtf16Le };
  explicit FromCp932Text(Target target) : target_(target) {}

  std::size_t Convert(std::string_view piece, std::string& out, bool last) override {
    wide_.clear();
    reader_.Decode(piece, wide_, last);
    std::size_t replaced = 0;
    for (char32_t c : wide_) {
      if (target_ == Target::kCp932) {
        replaced += appendCp932(c, out);
        continue;
      }
      if (c == kInvalid) {
        c = static_cast<unsigned char>(kQuestionMark);
        ++replaced;
      }
      if (target_ == Target::kUtf8) {
        appendUtf8(c, out);
      } else {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        if (target_ == Target::kUtf16Be) out += hi, out += lo;
        else out += lo, out += hi;
      }
    }
    return replaced;
  }

 private:
  Target target_;
  Cp932Reader reader_;
  std::u32string wide_;
};

// ISO-2022-JP and its extensions toward CP932: JIS X 0208 with the NEC row
// 13 and the NEC-selected IBM rows (as CP50220 writes them), half-width
// katakana after ESC ( I or SO; sets CP932 lacks (JIS X 0212, the sets of
// ISO-2022-JP-2) give one mark per character. A line end returns to ASCII.
class Iso2022JpToCp932 final : public Step {
 public:
  std::size_t Convert(std::string_view piece, std::string& out, bool last) override {
    std::string joined;
    piece = joinHeld(held_, piece, joined);
    std::size_t replaced = 0;
    std::size_t i = 0;
    // A byte that is no character here: one mark.
    const auto mark = [&] {
      replaced += appendCp932(kInvalid, out);
      ++i;
    };
    // Bytes the next piece may complete: held back (true), or at the end of
    // the text a mark.
    const auto cut = [&] {
      if (!last) {
        held_.assign(piece.substr(i));
        return true;
      }
      mark();
      return false;
    };
    while (i < piece.size()) {
      const auto c = static_cast<unsigned char>(piece[i]);
      if (c == 0x1B) {
        const std::size_t n = Escape(piece.substr(i));
        if (n == 0) {
          if (cut()) return replaced;
        } else if (n == kUnknownEscape) {
          mark();
        } else {
          i += n;
        }
        continue;
      }
      if (c == 0x0E || c == 0x0F) {  // SO / SI
        shifted_ = c == 0x0E;
        ++i;
        continue;
      }
      if (c == '\n' || c == '\r') {
        mode_ = Mode::kAscii;
        shifted_ = false;
      }
      if (c >= 0x80) {
        mark();
        continue;
      }
      if (shifted_ || mode_ == Mode::kKana) {
        out.push_back(static_cast<char>(c >= 0x21 && c <= 0x5F ? c | 0x80 : c));
        ++i;
        continue;
      }
      if (mode_ == Mode::kAscii || c < 0x21 || c > 0x7E) {
        out.push_back(static_cast<char>(c));
        ++i;
        continue;
      }
      // A double-byte set: a pair of 0x21-0x7E.
      if (i + 1 >= piece.size()) {
        if (cut()) return replaced;
        continue;
      }
      const auto c2 = static_cast<unsigned char>(piece[i + 1]);
      if (c2 < 0x21 || c2 > 0x7E) {
        mark();
        continue;
      }
      i += 2;
      if (mode_ != Mode::kKanji) {
        replaced += appendCp932(kInvalid, out);
        continue;
      }
      // JIS row/cell to Shift-JIS; a code CP932 does not assign is a mark.
      const unsigned s1 = ((c + 1) >> 1) + (c < 0x5F ? 0x70 : 0xB0);
      const unsigned s2 = c2 + ((c & 1) != 0 ? (c2 > 0x5F ? 0x20 : 0x1F) : 0x7E);
      if (cp932DoubleToUnicode(static_cast<unsigned char>(s1), static_cast<unsigned char>(s2)) == 0) {
        replaced += appendCp932(kInvalid, out);
      } else {
        out.push_back(static_cast<char>(s1));
        out.push_back(static_cast<char>(s2));
      }
    }
    return replaced;
  }

 private:
  enum class Mode { kAscii, kKanji, kKana, kOther };
  static constexpr std::size_t kUnknownEscape = static_cast<std::size_t>(-1);

  // Takes the escape sequence at the start of `s`. Returns its length, 0
  // when it is cut by the end, kUnknownEscape for any other ESC.
  std::size_t Escape(std::string_view s) {
    struct Sequence {
      std::string_view bytes;
      Mode mode;
    };
    static constexpr Sequence kSequences[] = {
        {"\x1B(B", Mode::kAscii}, {"\x1B(J", Mode::kAscii}, {"\x1B(I", Mode::kKana},
        {"\x1B$B", Mode::kKanji}, {"\x1B$@", Mode::kKanji}, {"\x1B$A", Mode::kOther},
        {"\x1B$(C", Mode::kOther}, {"\x1B$(D", Mode::kOther}, {"\x1B$(O", Mode::kOther},
        {"\x1B$(P", Mode::kOther}, {"\x1B$(Q", Mode::kOther},
    };
    bool cut = false;
    for (const Sequence& q : kSequences) {
      if (s.size() < q.bytes.size()) {
        if (q.bytes.substr(0, s.size()) == s) cut = true;
        continue;
      }
      if (s.substr(0, q.bytes.size()) == q.bytes) {
        mode_ = q.mode;
        return q.bytes.size();
      }
    }
    return cut ? 0 : kUnknownEscape;
  }

  Mode mode_ = Mode::kAscii;
  bool shifted_ = false;  // SO seen: half-width katakana until SI
  std::string held_;
};

class AsciiToCp932 final : public Step {
 public:
  std::size_t Convert(std::string_view piece, std::string& out, bool) override {
    std::size_t replaced = 0;
    for (const char c : piece) {
      replaced += appendCp932(static_cast<unsigned char>(c) < 0x80 ? static_cast<char32_t>(c) : kInvalid, out);
    }
    return replaced;
  }
};

}  // namespace

void Cp932Reader::Decode(std::string_view piece, std::u32string& wide, bool last) {
  std::size_t i = 0;
  auto pair = [&](unsigned lead, unsigned char trail) {
    const char32_t c = cp932DoubleToUnicode(static_cast<unsigned char>(lead), trail);
    wide.push_back(c != 0 ? c : kInvalid);
    return c != 0;
  };
  if (heldLead_ >= 0 && !piece.empty()) {
    const unsigned lead = static_cast<unsigned>(heldLead_);
    heldLead_ = -1;
    if (pair(lead, static_cast<unsigned char>(piece[0]))) i = 1;  // else the byte is read on its own
  }
  for (; i < piece.size(); ++i) {
    const auto c = static_cast<unsigned char>(piece[i]);
    if (c < 0x80) {
      wide.push_back(c);
    } else if (c >= 0xA1 && c <= 0xDF) {
      wide.push_back(0xFF61 + (c - 0xA1));
    } else if (!isCp932Lead(c)) {
      wide.push_back(kInvalid);
    } else if (i + 1 == piece.size()) {
      heldLead_ = c;
    } else if (pair(c, static_cast<unsigned char>(piece[i + 1]))) {
      ++i;
    }
  }
  if (last && heldLead_ >= 0) {
    heldLead_ = -1;
    wide.push_back(kInvalid);
  }
}

std::unique_ptr<Step> openOwnStep(std::string_view canonical, Direction direction) {
  using Target = FromCp932Text::Target;
  const bool toCp932 = direction == Direction::kToCp932;
  if (canonical == "CP932") return std::make_unique<FromCp932Text>(Target::kCp932);
  if (toCp932) {
    if (canonical == "UTF-8") return std::make_unique<Utf8ToCp932>();
    if (canonical == "UTF-16") return std::make_unique<Utf16ToCp932>(true, true);
    if (canonical == "UTF-16BE") return std::make_unique<Utf16ToCp932>(true, false);
    if (canonical == "UTF-16LE") return std::make_unique<Utf16ToCp932>(false, false);
    if (canonical.starts_with("ISO-2022-JP")) return std::make_unique<Iso2022JpToCp932>();
    if (canonical == "US-ASCII") return std::make_unique<AsciiToCp932>();
    return nullptr;
  }
  if (canonical == "UTF-8") return std::make_unique<FromCp932Text>(Target::kUtf8);
  if (canonical == "UTF-16" || canonical == "UTF-16BE") return std::make_unique<FromCp932Text>(Target::kUtf16Be);
  if (canonical == "UTF-16LE") return std::make_unique<FromCp932Text>(Target::kUtf16Le);
  return nullptr;
}

}  // namespace zel::charset
