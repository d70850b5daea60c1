#include "codec/base64_stream.h"

#include <array>

namespace zel {

namespace {

constexpr unsigned kNone = 64;

constexpr std::array<unsigned char, 256> makeValues() {
  std::array<unsigned char, 256> values{};
  for (auto& v : values) v = kNone;
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (unsigned i = 0; i < alphabet.size(); ++i) values[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
  return values;
}

constexpr std::array<unsigned char, 256> kValues = makeValues();

}  // namespace

void Base64Stream::add(std::string_view text, std::string& out) {
  // Room for every byte the text can give, written through a pointer.
  const std::size_t start = out.size();
  out.resize(start + text.size() / 4 * 3 + 3);
  char* d = out.data() + start;
  for (const char ch : text) {
    if (ended_) break;
    const unsigned v = kValues[static_cast<unsigned char>(ch)];
    if (v != kNone) {
      padOpened_ = false;
      bits_ = bits_ << 6 | v;
      if (++count_ == 4) {
        d[0] = static_cast<char>(bits_ >> 16);
        d[1] = static_cast<char>(bits_ >> 8);
        d[2] = static_cast<char>(bits_);
        d += 3;
        bits_ = 0;
        count_ = 0;
      }
    } else if (ch == '=') {
      // "xxx=" and "xx==" end the data; a pad anywhere else is skipped.
      if (count_ == 3 || (count_ == 2 && padOpened_)) {
        out.resize(static_cast<std::size_t>(d - out.data()));
        finish(out);
        ended_ = true;
        return;
      }
      if (count_ == 2) padOpened_ = true;
    }
  }
  out.resize(static_cast<std::size_t>(d - out.data()));
}

void Base64Stream::finish(std::string& out) {
  if (count_ == 2) {
    out.push_back(static_cast<char>(bits_ >> 4));
  } else if (count_ == 3) {
    out.push_back(static_cast<char>(bits_ >> 10));
    out.push_back(static_cast<char>(bits_ >> 2));
  }
  bits_ = 0;
  count_ = 0;
}

}  // namespace zel
