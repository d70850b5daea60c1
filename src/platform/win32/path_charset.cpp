#include "platform/path_charset.h"

#include <windows.h>

#include <vector>

namespace zel {
namespace {

constexpr UINT kShiftJis = 932;

bool Convert(UINT from, UINT to, std::string_view in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  const int wide = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (wide <= 0) return false;
  std::vector<wchar_t> buffer(static_cast<std::size_t>(wide));
  MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), buffer.data(), wide);
  BOOL lossy = FALSE;
  BOOL* lossyFlag = to == CP_UTF8 ? nullptr : &lossy;
  // No best-fit mapping: a character without a Shift-JIS form is a failure,
  // not a look-alike.
  const DWORD flags = to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = WideCharToMultiByte(to, flags, buffer.data(), wide, nullptr, 0, nullptr, lossyFlag);
  if (n <= 0 || lossy) return false;
  out.resize(static_cast<std::size_t>(n));
  WideCharToMultiByte(to, flags, buffer.data(), wide, out.data(), n, nullptr, lossyFlag);
  if (lossy) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace

bool SjisToUtf8(std::string_view sjis, std::string& out) { return Convert(kShiftJis, CP_UTF8, sjis, out); }

bool Utf8ToSjis(std::string_view utf8, std::string& out) { return Convert(CP_UTF8, kShiftJis, utf8, out); }

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
