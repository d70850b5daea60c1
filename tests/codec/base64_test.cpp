// Base64 and BinHex: published vectors, pads, partial groups, random round
// trips against a bit-by-bit reference.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "codec/binhex.h"

namespace zel {
namespace {

std::string encode(const std::string& bytes) {
  std::vector<char> out(base64EncodedSize(bytes.size()) + 1, '\x55');
  const std::size_t n = base64Encode(bytes.data(), bytes.size(), out.data());
  EXPECT_EQ(n, base64EncodedSize(bytes.size()));
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

std::string decode(const std::string& text) {
  std::vector<char> out(base64DecodedBound(text.size()) + 1);
  const std::size_t n = base64DecodeLine(text.data(), text.size(), out.data());
  EXPECT_LE(n, base64DecodedBound(text.size()));
  return std::string(out.data(), n);
}

TEST(Base64, Rfc4648Vectors) {
  const char* const vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                    {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                    {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"}, {"ab", "YWI="},
                                    {"a", "YQ=="}};
  for (const auto& v : vectors) {
    EXPECT_EQ(encode(v[0]), v[1]);
    EXPECT_EQ(decode(v[1]), v[0]);
  }
}

TEST(Base64, AttachmentBlockIsOneLine) {
  const std::string block(54, '\xA5');
  EXPECT_EQ(encode(block).size(), 72u);
}

TEST(Base64, InvalidCharactersCountAsA) {
  EXPECT_EQ(decode("*A=="), decode("AA=="));
  EXPECT_EQ(decode("YW\nj"), decode("YWAj"));
  // A partial last group is completed with "A": three bytes.
  EXPECT_EQ(decode("YWJjYQ"), std::string("abca\0\0", 6));
  EXPECT_EQ(decode("YQ"), std::string("a\0\0", 3));
  // A pad inside the line is not special; only the last group's count.
  EXPECT_EQ(decode("YQ==YWJj"), std::string("a\0\0abc", 6));
}

// Bit-by-bit reference encoder.
std::string referenceEncode(const std::string& bytes) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    for (int k = 18; k >= 0; k -= 6) out += kAlphabet[(v >> k) & 63];
  }
  if (bytes.size() - i == 1) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (bytes.size() - i == 2) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

TEST(Base64, RandomRoundTrips) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 500; ++round) {
    std::string bytes(rng() % 200, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    const std::string text = encode(bytes);
    ASSERT_EQ(text, referenceEncode(bytes));
    ASSERT_EQ(decode(text), bytes);
  }
}

std::string binhex(const std::string& text) {
  std::vector<char> out(binhexDecodedBound(text.size()) + 1);
  return std::string(out.data(), binhexDecode(text.data(), text.size(), out.data()));
}

TEST(Binhex, SixBitGroups) {
  EXPECT_EQ(binhex("!!!!"), std::string(3, '\0'));
  EXPECT_EQ(binhex("!!:"), std::string(1, '\0'));
  EXPECT_EQ(binhex("!!!"), std::string(2, '\0'));
  EXPECT_EQ(binhex("!"), "");
  // "r" is the last character (63): four of them give three 0xFF bytes.
  EXPECT_EQ(binhex("rrrr"), "\xFF\xFF\xFF");
  // Positions: "0" is 13, "@" is 22, "P" 37, "X" 44, "[" 47, "h" 55.
  // 13,22,37,44 -> 001101 010110 100101 101100 -> 0x35 0x69 0x6C
  EXPECT_EQ(binhex("0@PX"), "\x35\x69\x6C");
  // 47,55,0,0 -> 101111 110111 000000 000000 -> 0xBF 0x70 0x00
  EXPECT_EQ(binhex("[h!!"), std::string("\xBF\x70\x00", 3));
  // Text after the colon is not read; an absent character counts as 0.
  EXPECT_EQ(binhex("rrrr:rrrr"), "\xFF\xFF\xFF");
  EXPECT_EQ(binhex("7777"), std::string(3, '\0'));
}

}  // namespace
}  // namespace zel
