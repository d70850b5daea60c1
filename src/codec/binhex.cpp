#include "codec/binhex.h"

#include <cstdint>

namespace zel {

namespace {

// The 64 characters of BinHex 4.0, in the order of their values.
constexpr char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

struct Map {
  unsigned char value[256];
};

constexpr Map makeMap() {
  Map m{};
  for (unsigned i = 0; i < 64; ++i) m.value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  return m;
}

constexpr Map kMap = makeMap();

}  // namespace

std::size_t binhexDecode(const char* text, std::size_t length, void* data) {
  auto* d = static_cast<unsigned char*>(data);
  std::uint32_t bits = 0;
  int count = 0;  // bits held in `bits`
  for (std::size_t i = 0; i < length && text[i] != ':'; ++i) {
    bits = (bits << 6) | kMap.value[static_cast<unsigned char>(text[i])];
    count += 6;
    if (count >= 8) {
      count -= 8;
      *d++ = static_cast<unsigned char>(bits >> count);
      bits &= (1u << count) - 1;
    }
  }
  return static_cast<std::size_t>(d - static_cast<unsigned char*>(data));
}

}  // namespace zel
