// The charset backend over the Win32 code-page functions: bytes of a code
// page <-> UTF-16 through MultiByteToWideChar and WideCharToMultiByte (no
// best fit); the own conversions and the CP932 table do the rest.
#include <windows.h>

#include <algorithm>
#include <array>

#include "charset/charset_steps.h"

namespace zel::charset {
namespace {

constexpr UINT kGb18030 = 54936;
constexpr UINT kGbk = 936;

struct CodePage {
  std::string_view canonical;
  UINT codePage;
};

constexpr std::array kCodePages = {
    CodePage{"US-ASCII", 20127},     CodePage{"ISO-2022-JP", 50220},  CodePage{"ISO-2022-JP-2", 50220},
    CodePage{"ISO-2022-JP-3", 50220}, CodePage{"EUC-JP", 20932},      CodePage{"ISO-8859-1", 28591},
    CodePage{"ISO-8859-2", 28592},   CodePage{"ISO-8859-3", 28593},   CodePage{"ISO-8859-4", 28594},
    CodePage{"ISO-8859-5", 28595},   CodePage{"ISO-8859-6", 28596},   CodePage{"ISO-8859-7", 28597},
    CodePage{"ISO-8859-8", 28598},   CodePage{"ISO-8859-9", 28599},   CodePage{"ISO-8859-10", 28600},
    CodePage{"ISO-8859-11", 874},    CodePage{"ISO-8859-13", 28603},  CodePage{"ISO-8859-14", 28604},
    CodePage{"ISO-8859-15", 28605},  CodePage{"WINDOWS-1250", 1250},  CodePage{"WINDOWS-1251", 1251},
    CodePage{"WINDOWS-1252", 1252},  CodePage{"WINDOWS-1253", 1253},  CodePage{"WINDOWS-1254", 1254},
    CodePage{"WINDOWS-1255", 1255},  CodePage{"WINDOWS-1256", 1256},  CodePage{"WINDOWS-1257", 1257},
    CodePage{"WINDOWS-1258", 1258},  CodePage{"KOI8-R", 20866},       CodePage{"KOI8-U", 21866},
    CodePage{"GBK", kGbk},           CodePage{"GB18030", kGb18030},   CodePage{"BIG5", 950},
    CodePage{"BIG5-HKSCS", 950},     CodePage{"EUC-KR", 949},         CodePage{"UTF-7", CP_UTF7},
};

bool Installed(UINT codePage) { return IsValidCodePage(codePage) != 0; }

// The bytes of `text` that can be converted now: everything up to and
// including the last byte below 0x21, which is never part of a multibyte
// character nor inside a shift sequence's run; the rest waits.
std::size_t SafeLength(std::string_view text) {
  for (std::size_t i = text.size(); i > 0; --i) {
    if (static_cast<unsigned char>(text[i - 1]) < 0x21) return i;
  }
  return 0;
}

class CodePageCodec final : public WideCodec {
 public:
  // `fourByteMarks`: GB18030 read as GBK where the system lacks code page
  // 54936; its four-byte characters (none of which CP932 has but by
  // another code) are marks.
  CodePageCodec(UINT codePage, bool fourByteMarks) : codePage_(codePage), fourByteMarks_(fourByteMarks) {}

  void Decode(std::string_view piece, std::u32string& wide, bool last) override {
    std::string text = std::move(held_);
    held_.clear();
    text.append(piece);
    std::size_t length = text.size();
    if (!last) {
      length = SafeLength(text);
      held_ = text.substr(length);
    }
    const std::string_view ready = std::string_view(text).substr(0, length);
    if (!fourByteMarks_) {
      DecodeRun(ready, wide);
      return;
    }
    std::size_t from = 0;
    for (std::size_t i = 0; i < ready.size();) {
      const auto c = static_cast<unsigned char>(ready[i]);
      if (c < 0x81 || i + 1 >= ready.size()) {
        ++i;
        continue;
      }
      const auto c2 = static_cast<unsigned char>(ready[i + 1]);
      if (c2 < 0x30 || c2 > 0x39) {
        i += 2;
        continue;
      }
      DecodeRun(ready.substr(from, i - from), wide);
      wide.push_back(kInvalid);
      i = std::min(i + 4, ready.size());
      from = i;
    }
    DecodeRun(ready.substr(from), wide);
  }

  std::size_t Encode(std::u32string_view wide, std::string& out, bool) override {
    const bool plain = codePage_ == CP_UTF7;
    std::size_t replaced = 0;
    for (const char32_t c : wide) {
      wchar_t units[2];
      int count = 1;
      if (c == kInvalid) {
        units[0] = L'?';
        ++replaced;
      } else if (c >= 0x10000) {
        units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        count = 2;
      } else {
        units[0] = static_cast<wchar_t>(c);
      }
      char buffer[16];
      BOOL lossy = FALSE;
      const int n = WideCharToMultiByte(codePage_, plain ? 0 : WC_NO_BEST_FIT_CHARS, units, count, buffer,
                                        sizeof buffer, nullptr, plain ? nullptr : &lossy);
      if (n <= 0 || lossy) {
        out += kQuestionMark;
        if (c != kInvalid) ++replaced;
      } else {
        out.append(buffer, static_cast<std::size_t>(n));
      }
    }
    return replaced;
  }

 private:
  void DecodeRun(std::string_view bytes, std::u32string& wide) {
    if (bytes.empty()) return;
    const int n = MultiByteToWideChar(codePage_, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) {
      wide.push_back(kInvalid);
      return;
    }
    std::wstring units(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage_, 0, bytes.data(), static_cast<int>(bytes.size()), units.data(), n);
    for (std::size_t i = 0; i < units.size(); ++i) {
      const char32_t u = static_cast<char16_t>(units[i]);
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size()) {
        const char32_t low = static_cast<char16_t>(units[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          wide.push_back(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
          ++i;
          continue;
        }
      }
      wide.push_back(u >= 0xD800 && u <= 0xDFFF ? kInvalid : u);
    }
  }

  UINT codePage_;
  bool fourByteMarks_;
  std::string held_;  // bytes held back for the next piece
};

}  // namespace

std::unique_ptr<WideCodec> openWideCodec(std::string_view canonical, bool decode) {
  for (const CodePage& entry : kCodePages) {
    if (entry.canonical != canonical) continue;
    if (Installed(entry.codePage)) return std::make_unique<CodePageCodec>(entry.codePage, false);
    // Wine has no code page 54936: GB18030 is read as GBK with marks.
    if (entry.codePage == kGb18030 && decode && Installed(kGbk)) {
      return std::make_unique<CodePageCodec>(kGbk, true);
    }
    return nullptr;
  }
  return nullptr;
}

}  // namespace zel::charset
