// CharsetConverter over the Win32 code-page functions, through UTF-16:
// MultiByteToWideChar for the source, WideCharToMultiByte (no best fit) for
// the target. UTF-16 itself is read and written here.
#include <windows.h>

#include <array>

#include "platform/charset_convert.h"

namespace zel {
namespace {

constexpr UINT kCp932 = 932;
constexpr UINT kUtf16Le = 1200;  // not a code page of the conversion functions
constexpr UINT kUtf16Be = 1201;
constexpr UINT kUtf16Bom = 1;    // UTF-16 with an optional byte-order mark
constexpr wchar_t kReplacementChar = 0xFFFD;

struct CodePage {
  std::string_view canonical;
  UINT codePage;
};

constexpr std::array kCodePages = {
    CodePage{"UTF-8", CP_UTF8},          CodePage{"US-ASCII", 20127},
    CodePage{"ISO-2022-JP", 50220},      CodePage{"ISO-2022-JP-2", 50220},
    CodePage{"ISO-2022-JP-3", 50220},    CodePage{"CP932", 932},
    CodePage{"EUC-JP", 20932},           CodePage{"ISO-8859-1", 28591},
    CodePage{"ISO-8859-2", 28592},       CodePage{"ISO-8859-3", 28593},
    CodePage{"ISO-8859-4", 28594},       CodePage{"ISO-8859-5", 28595},
    CodePage{"ISO-8859-6", 28596},       CodePage{"ISO-8859-7", 28597},
    CodePage{"ISO-8859-8", 28598},       CodePage{"ISO-8859-9", 28599},
    CodePage{"ISO-8859-10", 28600},      CodePage{"ISO-8859-11", 874},
    CodePage{"ISO-8859-13", 28603},      CodePage{"ISO-8859-14", 28604},
    CodePage{"ISO-8859-15", 28605},      CodePage{"WINDOWS-1250", 1250},
    CodePage{"WINDOWS-1251", 1251},      CodePage{"WINDOWS-1252", 1252},
    CodePage{"WINDOWS-1253", 1253},      CodePage{"WINDOWS-1254", 1254},
    CodePage{"WINDOWS-1255", 1255},      CodePage{"WINDOWS-1256", 1256},
    CodePage{"WINDOWS-1257", 1257},      CodePage{"WINDOWS-1258", 1258},
    CodePage{"KOI8-R", 20866},           CodePage{"KOI8-U", 21866},
    CodePage{"GBK", 936},                CodePage{"GB18030", 54936},
    CodePage{"BIG5", 950},               CodePage{"BIG5-HKSCS", 950},
    CodePage{"EUC-KR", 949},             CodePage{"UTF-16", kUtf16Bom},
    CodePage{"UTF-16BE", kUtf16Be},      CodePage{"UTF-16LE", kUtf16Le},
    CodePage{"UTF-7", CP_UTF7},
};

UINT CodePageOf(std::string_view label) {
  const std::string_view canonical = CanonicalCharset(label);
  for (const CodePage& entry : kCodePages) {
    if (entry.canonical == canonical) return entry.codePage;
  }
  return 0;
}

bool IsUtf16(UINT codePage) { return codePage == kUtf16Le || codePage == kUtf16Be || codePage == kUtf16Bom; }

}  // namespace

struct CharsetConverter::State {
  UINT codePage = 0;
  bool toCp932 = true;
  bool bigEndian = false;  // UTF-16 byte order (read from a BOM for "UTF-16")
  bool sawStart = false;   // the first bytes (a possible BOM) were looked at
  std::string pending;     // bytes held back for the next piece

  // The bytes of `text` that can be converted now: everything up to and
  // including the last byte below 0x21, which is never part of a multibyte
  // character nor inside a shift sequence's run; the rest waits.
  std::size_t SafeLength(std::string_view text) const {
    for (std::size_t i = text.size(); i > 0; --i) {
      if (static_cast<unsigned char>(text[i - 1]) < 0x21) return i;
    }
    return 0;
  }

  // Source bytes to UTF-16; invalid sequences become U+FFFD.
  void ToWide(UINT from, std::string_view bytes, std::wstring& wide) {
    if (bytes.empty()) return;
    if (IsUtf16(from)) {
      std::size_t i = 0;
      if (!sawStart && from == kUtf16Bom && bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFE && b1 == 0xFF) bigEndian = true, i = 2;
        else if (b0 == 0xFF && b1 == 0xFE) bigEndian = false, i = 2;
        else bigEndian = true;  // RFC 2781: no BOM means big-endian
      } else if (!sawStart) {
        bigEndian = from == kUtf16Be;
      }
      sawStart = true;
      for (; i + 1 < bytes.size(); i += 2) {
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        wide.push_back(static_cast<wchar_t>(hi << 8 | lo));
      }
      if (i < bytes.size()) wide.push_back(kReplacementChar);
      return;
    }
    const int n = MultiByteToWideChar(from, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) {
      wide.push_back(kReplacementChar);
      return;
    }
    const std::size_t start = wide.size();
    wide.resize(start + static_cast<std::size_t>(n));
    MultiByteToWideChar(from, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data() + start, n);
  }

  // UTF-16 to target bytes; a character the target lacks becomes the
  // replacement. Returns the replacements written.
  std::size_t FromWide(UINT to, std::wstring_view wide, std::string& out) {
    std::size_t replaced = 0;
    if (IsUtf16(to)) {
      for (const wchar_t c : wide) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        if (to == kUtf16Le) out += lo, out += hi;
        else out += hi, out += lo;
      }
      return 0;
    }
    const bool plain = to == CP_UTF8 || to == CP_UTF7;
    const char* mark = to == kCp932 ? "\x81\xAC" : "?";
    for (std::size_t i = 0; i < wide.size(); ++i) {
      // A character at a time where something may be lost, so that each
      // loss is counted; U+FFFD stands for an invalid source sequence.
      const std::size_t units = (IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size()) ? 2 : 1;
      if (wide[i] == kReplacementChar) {
        out += mark;
        ++replaced;
        continue;
      }
      char buffer[16];
      BOOL lossy = FALSE;
      const int n = WideCharToMultiByte(to, plain ? 0 : WC_NO_BEST_FIT_CHARS, wide.data() + i,
                                        static_cast<int>(units), buffer, sizeof buffer, nullptr,
                                        plain ? nullptr : &lossy);
      if (n <= 0 || lossy) {
        out += mark;
        ++replaced;
      } else {
        out.append(buffer, static_cast<std::size_t>(n));
      }
      i += units - 1;
    }
    return replaced;
  }
};

CharsetConverter::CharsetConverter() = default;
CharsetConverter::~CharsetConverter() = default;

bool IsKnownCharset(std::string_view label) {
  const UINT codePage = CodePageOf(label);
  if (codePage == 0) return false;
  if (IsUtf16(codePage)) return true;
  CPINFO info;
  return GetCPInfo(codePage, &info) != 0;
}

bool CharsetConverter::Open(std::string_view label, Direction direction) {
  state_.reset();
  if (!IsKnownCharset(label)) return false;
  state_ = std::make_unique<State>();
  state_->codePage = CodePageOf(label);
  state_->toCp932 = direction == Direction::kToCp932;
  return true;
}

std::size_t CharsetConverter::Convert(std::string_view piece, std::string& out, bool last) {
  if (!state_) return 0;
  State& s = *state_;
  std::string text = std::move(s.pending);
  s.pending.clear();
  text.append(piece);
  const UINT from = s.toCp932 ? s.codePage : kCp932;
  const UINT to = s.toCp932 ? kCp932 : s.codePage;
  std::size_t length = text.size();
  if (!last) {
    length = IsUtf16(from) ? text.size() & ~std::size_t{1} : s.SafeLength(text);
    s.pending = text.substr(length);
  }
  std::wstring wide;
  s.ToWide(from, std::string_view(text).substr(0, length), wide);
  return s.FromWide(to, wide, out);
}

}  // namespace zel
