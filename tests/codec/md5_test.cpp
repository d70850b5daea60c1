// MD5: the RFC 1321 test suite and the APOP example of RFC 1939.
#include <gtest/gtest.h>

#include <string>

#include "codec/md5.h"

namespace zel {
namespace {

TEST(Md5, Rfc1321Suite) {
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, ApopExample) {
  EXPECT_EQ(md5Hex("<1896.697170952@dbc.mtview.ca.us>tanstaaf"), "c4c9334bac560ecc979e58001b3e22fb");
}

TEST(Md5, PiecewiseEqualsWhole) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 7);
  for (std::size_t cut : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 128u, 999u}) {
    Md5 md5;
    md5.update(text.data(), cut);
    md5.update(text.data() + cut, text.size() - cut);
    unsigned char digest[kMd5DigestSize];
    md5.finish(digest);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : digest) hex += {kHex[b >> 4], kHex[b & 15]};
    EXPECT_EQ(hex, md5Hex(text)) << cut;
  }
}

}  // namespace
}  // namespace zel
