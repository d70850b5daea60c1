#include "codec/base64.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace zel {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Tables {
  // Two characters for every 12-bit value: one lookup per half of a group.
  char pairs[4096][2];
  // Each character's six bits, already shifted into place for its position
  // within a group of four (0 for characters outside the alphabet).
  std::uint32_t bits[4][256];
};

constexpr Tables makeTables() {
  Tables t{};
  for (unsigned v = 0; v < 4096; ++v) {
    t.pairs[v][0] = kAlphabet[v >> 6];
    t.pairs[v][1] = kAlphabet[v & 63];
  }
  for (unsigned i = 0; i < 64; ++i) {
    const auto c = static_cast<unsigned char>(kAlphabet[i]);
    t.bits[0][c] = i << 18;
    t.bits[1][c] = i << 12;
    t.bits[2][c] = i << 6;
    t.bits[3][c] = i;
  }
  return t;
}

constexpr Tables kTables = makeTables();

inline void putGroup(std::uint32_t v, char* out) {
  std::memcpy(out, kTables.pairs[v >> 12], 2);
  std::memcpy(out + 2, kTables.pairs[v & 0xFFF], 2);
}

inline std::uint32_t groupBits(const unsigned char* p) {
  return kTables.bits[0][p[0]] | kTables.bits[1][p[1]] | kTables.bits[2][p[2]] | kTables.bits[3][p[3]];
}

static_assert(std::endian::native == std::endian::little, "the four-byte stores assume little-endian words");

}  // namespace

std::size_t base64Encode(const void* data, std::size_t length, char* text) {
  const auto* s = static_cast<const unsigned char*>(data);
  char* d = text;
  std::size_t i = 0;
  // Six bytes (two groups) per step.
  for (; i + 6 <= length; i += 6, s += 6, d += 8) {
    const std::uint32_t a = (std::uint32_t{s[0]} << 16) | (std::uint32_t{s[1]} << 8) | s[2];
    const std::uint32_t b = (std::uint32_t{s[3]} << 16) | (std::uint32_t{s[4]} << 8) | s[5];
    putGroup(a, d);
    putGroup(b, d + 4);
  }
  if (i + 3 <= length) {
    putGroup((std::uint32_t{s[0]} << 16) | (std::uint32_t{s[1]} << 8) | s[2], d);
    i += 3;
    s += 3;
    d += 4;
  }
  const std::size_t rest = length - i;
  if (rest == 1) {
    d[0] = kAlphabet[s[0] >> 2];
    d[1] = kAlphabet[(s[0] & 3) << 4];
    d[2] = '=';
    d[3] = '=';
    d += 4;
  } else if (rest == 2) {
    d[0] = kAlphabet[s[0] >> 2];
    d[1] = kAlphabet[((s[0] & 3) << 4) | (s[1] >> 4)];
    d[2] = kAlphabet[(s[1] & 15) << 2];
    d[3] = '=';
    d += 4;
  }
  *d = '\0';
  return static_cast<std::size_t>(d - text);
}

std::size_t base64DecodeGroups(const char* text, std::size_t length, void* data) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  auto* d = static_cast<unsigned char*>(data);
  for (std::size_t i = 0; i + 4 <= length; i += 4, d += 3) {
    const std::uint32_t v = groupBits(s + i);
    d[0] = static_cast<unsigned char>(v >> 16);
    d[1] = static_cast<unsigned char>(v >> 8);
    d[2] = static_cast<unsigned char>(v);
  }
  return length / 4 * 3;
}

std::size_t base64DecodeLine(const char* text, std::size_t length, void* data) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  auto* d = static_cast<unsigned char*>(data);
  std::size_t i = 0;
  // While another group follows, each group is stored as four bytes (its
  // three and one that the next group overwrites); the output bound has room.
  for (; i + 8 <= length; i += 4, d += 3) {
    const std::uint32_t v = groupBits(s + i);
    const std::uint32_t bytes = __builtin_bswap32(v << 8);
    std::memcpy(d, &bytes, 4);
  }
  for (; i + 4 <= length; i += 4, d += 3) {
    const std::uint32_t v = groupBits(s + i);
    d[0] = static_cast<unsigned char>(v >> 16);
    d[1] = static_cast<unsigned char>(v >> 8);
    d[2] = static_cast<unsigned char>(v);
  }
  std::size_t last = i;  // start of the last group
  if (i < length) {
    // A partial last group: its missing characters count as "A".
    unsigned char group[4] = {'A', 'A', 'A', 'A'};
    std::memcpy(group, s + i, length - i);
    const std::uint32_t v = groupBits(group);
    d[0] = static_cast<unsigned char>(v >> 16);
    d[1] = static_cast<unsigned char>(v >> 8);
    d[2] = static_cast<unsigned char>(v);
    d += 3;
  } else if (length >= 4) {
    last = length - 4;
  }
  std::size_t count = static_cast<std::size_t>(d - static_cast<unsigned char*>(data));
  if (length >= 4) {
    // Pad characters of the last group drop their bytes; a missing character
    // of a partial group is no pad.
    if (last + 3 < length && s[last + 3] == '=') --count;
    if (last + 2 < length && s[last + 2] == '=') --count;
  }
  return count;
}

}  // namespace zel
