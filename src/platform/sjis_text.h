// The fixed text fields and Shift-JIS character boundaries.
//
// Every host text is Shift-JIS. A text cut to fit a fixed field is cut at a
// character boundary, never between a lead byte and its trail byte. Pure
// byte arithmetic over the standard library: every layer may include it
// (the codec takes it as its narrow interface to the field sizes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zel {

// Capacities of the fixed text fields of the data model (bytes, NUL included).
// Server and host names: any DNS name (at most 255 bytes as text), a colon
// and a five-digit port, and the NUL. A longer name is refused, never cut.
inline constexpr std::size_t kDnsNameMax = 255;
inline constexpr std::size_t kHostNameSize = kDnsNameMax + sizeof(":65535");
inline constexpr std::size_t kBoundarySize = 32;    // MIME boundary
inline constexpr std::size_t kShortTextSize = 64;   // short header values
inline constexpr std::size_t kAccountSize = 100;    // user, password, address, name
// The session's password, which may be an OAuth 2.0 access token: tokens
// of today's providers run to about 2,500 characters, and servers take
// SASL lines of 16 KB; a longer secret is refused, never cut.
inline constexpr std::size_t kSecretMax = 16 * 1024;
inline constexpr std::size_t kSecretSize = kSecretMax + 1;
inline constexpr std::size_t kErrorTextSize = 256;  // error text
inline constexpr std::size_t kPathSize = 260;       // file paths
inline constexpr std::size_t kLineSize = 1024;      // one message line

// `s`, or "" for an absent text: for %s in messages and logs.
constexpr const char* Text(const char* s) { return s != nullptr ? s : ""; }

// True for a byte that starts a double-byte character of host text: code
// page 932 with its user-defined and IBM extension areas, lead bytes
// 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsSjisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length of `text` without a lead byte at its end whose trail byte is
// missing: the whole characters of a piece cut from a longer text.
inline std::size_t SjisWholeCharsLength(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t step = IsSjisLead(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + step > text.size()) break;
    i += step;
  }
  return i;
}

// Length of the longest prefix of `text` that is at most `limit` bytes and
// does not end between a lead byte and its trail byte. A text that fits is
// taken whole.
inline std::size_t SjisPrefixLength(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  return SjisWholeCharsLength(text.substr(0, limit));
}

// Copies `src` into `dst` (capacity `size` bytes including the NUL), cut at a
// character boundary. Returns true when the whole text fitted. `size` > 0.
inline bool CopyBounded(char* dst, std::size_t size, std::string_view src) {
  const std::size_t n = SjisPrefixLength(src, size - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
  return n == src.size();
}

template <std::size_t N>
inline bool CopyBounded(char (&dst)[N], std::string_view src) {
  return CopyBounded(dst, N, src);
}

}  // namespace zel
