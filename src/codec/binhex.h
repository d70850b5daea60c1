// BinHex 4.0 six-bit decoding (RFC 1741 alphabet) of attachment text.
#pragma once

#include <cstddef>

namespace zel {

// Bytes binhexDecode may write for `length` characters.
constexpr std::size_t binhexDecodedBound(std::size_t length) { return length * 6 / 8; }

// binhexDecode: decodes `text` up to its first ":" or its `length` (no line
// ends inside). Each character gives six bits, most significant first; every
// complete eight bits give one byte, left-over bits are dropped. Characters
// outside the alphabet count as 0. Run-length codes, header, forks and CRCs
// are not interpreted.
//   data  at least binhexDecodedBound(length) bytes
// Returns the number of bytes written.
std::size_t binhexDecode(const char* text, std::size_t length, void* data);

}  // namespace zel
