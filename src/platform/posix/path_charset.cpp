#include "platform/path_charset.h"

#include <iconv.h>

#include <cerrno>

namespace zel {
namespace {

// Converts `size` bytes at `in` with glibc iconv into `out`; any invalid or
// unconvertible byte fails.
bool Iconv(const char* to, const char* from, const char* in, std::size_t size, std::string& out) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  result.resize(size * 3 + 16);  // no conversion here more than doubles
  char* src = const_cast<char*>(in);
  std::size_t src_left = size;
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

// Converts between CP932 and UTF-8.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
  // ASCII is the same in CP932 and UTF-8: most paths need no converter.
  bool ascii = true;
  for (const char c : in) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    out.assign(in);
    return true;
  }
  return Iconv(to, from, in.data(), in.size(), out);
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

bool AnsiToUtf16(std::string_view ansi, std::u16string& out) {
  out.clear();
  std::string bytes;
  if (!Iconv("UTF-16LE", "CP932", ansi.data(), ansi.size(), bytes)) return false;
  out.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return true;
}

bool Utf16ToAnsi(std::u16string_view utf16, std::string& out) {
  std::string bytes(utf16.size() * 2, '\0');
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    bytes[2 * i] = static_cast<char>(utf16[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(utf16[i] >> 8);
  }
  return Iconv("CP932", "UTF-16LE", bytes.data(), bytes.size(), out);
}

unsigned AnsiCodePage() { return 932; }

}  // namespace zel
