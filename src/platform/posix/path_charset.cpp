#include "platform/path_charset.h"

#include <iconv.h>

#include <cerrno>

namespace zel {
namespace {

// Converts with glibc iconv; any invalid or unconvertible byte fails.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
  out.clear();
  // ASCII is the same in CP932 and UTF-8: most paths need no converter.
  bool ascii = true;
  for (const char c : in) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    out.assign(in);
    return true;
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  result.resize(in.size() * 3 + 16);  // CP932 -> UTF-8 grows at most 3/2
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  char* dst = result.data();
  std::size_t dst_left = result.size();
  const std::size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
  bool ok = rc != static_cast<std::size_t>(-1) && src_left == 0;
  if (ok) ok = iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  result.resize(result.size() - dst_left);
  out = std::move(result);
  return true;
}

}  // namespace

bool SjisToUtf8(std::string_view sjis, std::string& out) { return Convert("UTF-8", "CP932", sjis, out); }

bool Utf8ToSjis(std::string_view utf8, std::string& out) { return Convert("CP932", "UTF-8", utf8, out); }

bool NativePath(std::string_view sjisPath, std::string& out) {
  if (sjisPath.find('\0') != std::string_view::npos) {
    out.clear();
    return false;
  }
  return SjisToUtf8(sjisPath, out);
}

bool HostPath(std::string_view nativePath, std::string& out) { return Utf8ToSjis(nativePath, out); }

unsigned AnsiCodePage() { return 932; }

}  // namespace zel
