#include "platform/path_charset.h"

#include <windows.h>

namespace zel {
namespace {

constexpr UINT kShiftJis = 932;

// Text of code page `from` as UTF-16; false for an invalid byte sequence.
bool ToWide(UINT from, std::string_view in, std::wstring& out) {
  out.clear();
  if (in.empty()) return true;
  const int n = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), out.data(), n);
  return true;
}

// UTF-16 text in code page `to`. No best-fit mapping: a character without a
// form in `to` (or an unpaired surrogate) is a failure, not a look-alike.
bool FromWide(UINT to, std::wstring_view in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  BOOL lossy = FALSE;
  BOOL* lossyFlag = to == CP_UTF8 ? nullptr : &lossy;
  const DWORD flags = to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = WideCharToMultiByte(to, flags, in.data(), static_cast<int>(in.size()), nullptr, 0, nullptr, lossyFlag);
  if (n <= 0 || lossy) return false;
  out.resize(static_cast<std::size_t>(n));
  WideCharToMultiByte(to, flags, in.data(), static_cast<int>(in.size()), out.data(), n, nullptr, lossyFlag);
  if (lossy) {
    out.clear();
    return false;
  }
  return true;
}

bool Convert(UINT from, UINT to, std::string_view in, std::string& out) {
  out.clear();
  std::wstring wide;
  return ToWide(from, in, wide) && FromWide(to, wide, out);
}

}  // namespace

bool SjisToUtf8(std::string_view sjis, std::string& out) { return Convert(kShiftJis, CP_UTF8, sjis, out); }

bool Utf8ToSjis(std::string_view utf8, std::string& out) { return Convert(CP_UTF8, kShiftJis, utf8, out); }

bool AnsiToUtf16(std::string_view ansi, std::u16string& out) {
  std::wstring wide;
  if (!ToWide(CP_ACP, ansi, wide)) {
    out.clear();
    return false;
  }
  out.assign(wide.begin(), wide.end());
  return true;
}

bool Utf16ToAnsi(std::u16string_view utf16, std::string& out) {
  const std::wstring wide(utf16.begin(), utf16.end());
  return FromWide(CP_ACP, wide, out);
}

bool NativePath(std::string_view sjisPath, std::string& out) {
  out.clear();
  if (sjisPath.find('\0') != std::string_view::npos) return false;
  out.assign(sjisPath);
  return true;
}

bool HostPath(std::string_view nativePath, std::string& out) {
  out.assign(nativePath);
  return true;
}

unsigned AnsiCodePage() { return GetACP(); }

}  // namespace zel
