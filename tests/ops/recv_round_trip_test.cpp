// Round trip through the exports: zelSendMailDummy composes a message from a
// Japanese send file, zelRecvMailDummy decodes it back to Shift-JIS.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "zelpost.h"

namespace {

std::string Bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(RecvRoundTrip, SendDummyThenRecvDummyGivesTheJapaneseBack) {
  std::random_device random;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("zel-roundtrip-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(dir);
  const std::string sendFile = (dir / "send.qml").string();
  const std::string message = (dir / "message.txt").string();
  const std::string display = (dir / "zel00001.wml").string();
  // Shift-JIS send file (the literals are Shift-JIS), CR LF on disk.
  std::ofstream(sendFile, std::ios::binary)
      << "To: 受取人 <to@example.jp>\r\n"
         "Subject: 日本語の件名ｶﾅ\r\n"
         "\r\n"
         "本文の一行目です。\r\n"
         ".で始まる行\r\n"
         "\r\n"
         "ASCII line\r\n";

  ASSERT_EQ(zelInitialize("pop.example.jp", "smtp.example.jp", "user", "pw", "me@example.jp",
                          "差出人"),
            1);
  ASSERT_EQ(zelSendMailDummy(sendFile.c_str(), "", message.c_str()), 1);
  const std::string composed = Bytes(message);
  // On the wire the Japanese is ISO-2022-JP only.
  EXPECT_EQ(composed.find("日本"), std::string::npos);

  ASSERT_EQ(zelRecvMailDummy(display.c_str(), message.c_str()), 1);
  EXPECT_EQ(zelGetErrorInt(), 0);
  const std::string text = Bytes(display);
  // Half-width katakana go out widened and come back full-width.
  EXPECT_NE(text.find("\r\nSubject: 日本語の件名カナ\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nFrom: 差出人 <me@example.jp>\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nTo: 受取人 <to@example.jp>\r\n"), std::string::npos) << text;
  const std::string body = text.substr(text.find("\r\n\r\n") + 4);
  EXPECT_EQ(body, "本文の一行目です。\r\n.で始まる行\r\n\r\nASCII line\r\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
