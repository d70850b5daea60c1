#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "api/inet_mail.h"
#include "library.h"
#include "platform/temp_file.h"
#include "scratch.h"

namespace zel::test {
namespace {

TEST(Options, NewSessionDefaults) {
  InetMail s;
  EXPECT_EQ(s.GetValueInt("POPBEFORESMTP"), 1);
  EXPECT_EQ(s.GetValueInt("EXECUTE_TYPE"), 0);
  EXPECT_EQ(s.GetValueInt("DELE"), 0);
  EXPECT_EQ(s.GetValueInt("SILENT"), 0);
  EXPECT_EQ(s.GetValueInt("APOP"), 0);
  EXPECT_EQ(s.GetValueInt("HWND"), 0);
  std::string temp;
  ASSERT_TRUE(TempDirectory(temp));
  char dir[kPathSize];
  EXPECT_EQ(s.GetValueStr("LOGDIR", dir, -1), static_cast<int>(temp.size()));
  EXPECT_EQ(std::string(dir), temp);
}

TEST(Options, IntegerSetResultsFollowTheTable) {
  const Exports& api = Api();
  EXPECT_EQ(api.SetValueInt("EXECUTE_TYPE", 0), 2);
  EXPECT_EQ(api.GetValueInt("EXECUTE_TYPE"), 2);
  EXPECT_EQ(api.SetValueInt("EXECUTE_TYPE", 1), 1);
  EXPECT_EQ(api.SetValueInt("EXECUTE_TYPE", 7), 2);
  EXPECT_EQ(api.SetValueInt("dele", 5), 1);
  EXPECT_EQ(api.GetValueInt("DELE"), 1);
  EXPECT_EQ(api.SetValueInt("Dele", 0), 0);
  EXPECT_EQ(api.SetValueInt("HWND", 0x12345678), 0x12345678);
  EXPECT_EQ(api.GetValueInt("hwnd"), 0x12345678);
  EXPECT_EQ(api.SetValueInt("SILENT", -3), 1);
  EXPECT_EQ(api.SetValueInt("APOP", 2), 1);
  EXPECT_EQ(api.GetValueInt("apop"), 1);
  EXPECT_EQ(api.SetValueInt("POPBEFORESMTP", 0), 0);
  EXPECT_EQ(api.GetValueInt("POPBEFORESMTP"), 0);
  api.SetValueInt("POPBEFORESMTP", 1);
  api.SetValueInt("APOP", 0);
  api.SetValueInt("SILENT", 0);
}

// TLS takes 0, 1 or 2 and refuses anything else (-1, nothing changes);
// SMTPAUTH, DELESEEN and DECODE (default 1) are flags, MAXSIZE a byte count
// (negative: none); TLSCAFILE a path, refused rather than cut.
TEST(Options, TlsSmtpAuthDecodeAndCaFile) {
  InetMail s;
  EXPECT_EQ(s.GetValueInt("TLS"), 0);
  EXPECT_EQ(s.GetValueInt("SMTPAUTH"), 0);
  EXPECT_EQ(s.GetValueInt("DECODE"), 1);
  char path[kPathSize] = "x";
  EXPECT_EQ(s.GetValueStr("TLSCAFILE", path, sizeof path), 0);
  EXPECT_STREQ(path, "");
  struct Case {
    const char* name;
    int value, result, stored;
  };
  const Case cases[] = {{"TLS", 1, 1, 1},   {"tls", 2, 2, 2},         {"TLS", 3, -1, 2},
                        {"TLS", -1, -1, 2}, {"TLS", 0, 0, 0},         {"SMTPAUTH", 7, 1, 1},
                        {"smtpauth", 0, 0, 0}, {"TLSCAFILE", 1, 0, 0},
                        {"DELESEEN", 5, 1, 1}, {"deleseen", 0, 0, 0},
                        {"MAXSIZE", 65536, 65536, 65536}, {"maxsize", -3, 0, 0},
                        {"DECODE", 0, 0, 0}, {"decode", 5, 1, 1},
                        {"PROTOCOL", 1, 1, 1}, {"protocol", 2, -1, 1}, {"PROTOCOL", 0, 0, 0},
                        {"BIFFIDLE", 1740, 1740, 1740}, {"biffidle", -5, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(s.SetValueInt(c.name, c.value), c.result) << c.name << " " << c.value;
    EXPECT_EQ(s.GetValueInt(c.name), c.stored) << c.name << " " << c.value;
  }
  EXPECT_EQ(s.SetValueStr("TLSCAFILE", "/etc/ca.pem"), 11);
  EXPECT_EQ(s.GetValueStr("tlscafile", path, sizeof path), 11);
  EXPECT_STREQ(path, "/etc/ca.pem");
  EXPECT_EQ(s.SetValueStr("TLSCAFILE", std::string(kPathSize, 'p').c_str()), 0);
  EXPECT_EQ(s.GetValueStr("TLSCAFILE", path, -1), 11);
  EXPECT_EQ(s.SetValueStr("TLS", "1"), 0);
  EXPECT_EQ(s.SetValueStr("TLSCAFILE", ""), 0);
  EXPECT_EQ(s.GetValueStr("TLSCAFILE", path, sizeof path), 0);
}

// IMAPFOLDER: INBOX by default; a Japanese name kept as the host's text;
// a name without a Unicode form, "" or one too long refused (0).
TEST(Options, ImapFolder) {
  InetMail s;
  char value[kPathSize];
  EXPECT_EQ(s.GetValueStr("IMAPFOLDER", value, sizeof value), 5);
  EXPECT_STREQ(value, "INBOX");
  EXPECT_EQ(s.ReceivePortInUse(), 110);
  s.SetValueInt("PROTOCOL", 1);
  EXPECT_EQ(s.ReceivePortInUse(), 143);
  s.SetValueInt("TLS", 1);
  EXPECT_EQ(s.ReceivePortInUse(), 993);
  const std::string japanese = "\x93\xFA\x96\x7B\x8C\xEA";  // 日本語
  EXPECT_EQ(s.SetValueStr("imapfolder", japanese.c_str()), 6);
  for (const std::string& refused : {std::string("\x93"), std::string(), std::string(kPathSize, 'f')}) {
    EXPECT_EQ(s.SetValueStr("IMAPFOLDER", refused.c_str()), 0);
  }
  EXPECT_EQ(s.GetValueStr("IMAPFOLDER", value, sizeof value), 6);
  EXPECT_EQ(std::string(value), japanese);
}

// CHARSET and SENDFILECHARSET take their values in any case; any other
// value is refused (0) and the setting stays.
TEST(Options, Charsets) {
  InetMail s;
  char value[kShortTextSize];
  EXPECT_EQ(s.GetValueStr("CHARSET", value, sizeof value), 11);
  EXPECT_STREQ(value, "ISO-2022-JP");
  EXPECT_EQ(s.GetValueStr("SendFileCharset", value, sizeof value), 9);
  EXPECT_STREQ(value, "SHIFT_JIS");
  struct Case {
    const char* name;
    const char* value;
    int result;
    const char* stored;
  };
  const Case cases[] = {
      {"CHARSET", "utf-8", 5, "UTF-8"},          {"charset", "UTF8", 0, "UTF-8"},
      {"CHARSET", "EUC-JP", 0, "UTF-8"},         {"CHARSET", "", 0, "UTF-8"},
      {"CHARSET", "iso-2022-jp", 11, "ISO-2022-JP"},  {"CHARSET", "iso-2022-jp-ext", 15, "ISO-2022-JP-EXT"},
      {"CHARSET", "ISO-2022-JP-EX", 0, "ISO-2022-JP-EXT"}, {"CHARSET", "ISO-2022-JP", 11, "ISO-2022-JP"},
      {"SENDFILECHARSET", "UTF-8", 5, "UTF-8"},  {"SENDFILECHARSET", "CP932", 0, "UTF-8"},
      {"SENDFILECHARSET", "shift_jis", 9, "SHIFT_JIS"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s.SetValueStr(c.name, c.value), c.result) << c.name << " " << c.value;
    EXPECT_GT(s.GetValueStr(c.name, value, sizeof value), 0);
    EXPECT_STREQ(value, c.stored) << c.name << " " << c.value;
  }
  EXPECT_EQ(s.SetValueStr("CHARSET", nullptr), 0);
  EXPECT_EQ(s.SetValueInt("CHARSET", 1), 0);
  EXPECT_EQ(s.GetValueInt("CHARSET"), 0);
}

// MAILDIR, MBOX and MDA: one delivery at a time (each replaces another, ""
// ends it, a value too long is refused and the delivery stays); the list
// file and folder of zelRecvMailAll are needed only with the display files.
// SENDFILEFORMAT takes its two values.
TEST(Options, DeliveryAndSendFileFormat) {
  InetMail s;
  char value[kPathSize];
  const std::string tooLong(kDeliveryTargetSize, 'x');
  struct Case {
    const char* name;
    const char* value;
    int result;
    const char* maildir, *mbox, *mda;  // read back afterwards
  };
  const Case cases[] = {
      {"MAILDIR", "/home/taro/Maildir", 18, "/home/taro/Maildir", "", ""},
      {"mbox", "/var/mail/taro", 14, "", "/var/mail/taro", ""},
      {"MDA", tooLong.c_str(), 0, "", "/var/mail/taro", ""},
      {"MDA", "procmail", 8, "", "", "procmail"},
      {"MAILDIR", "", 0, "", "", "procmail"},
      {"MDA", "", 0, "", "", ""},
  };
  EXPECT_TRUE(s.WritesDisplayFiles());
  for (const Case& c : cases) {
    EXPECT_EQ(s.SetValueStr(c.name, c.value), c.result) << c.name << " " << c.value;
    for (const auto& [name, stored] : {std::pair{"MAILDIR", c.maildir}, {"MBOX", c.mbox}, {"MDA", c.mda}}) {
      s.GetValueStr(name, value, sizeof value);
      EXPECT_STREQ(value, stored) << c.name << " " << name;
    }
  }
  EXPECT_EQ(s.SetValueStr("MBOX", "box"), 3);
  EXPECT_FALSE(s.WritesDisplayFiles());
  EXPECT_EQ(s.SetValueInt("KEEPDISPLAY", 5), 1);
  EXPECT_TRUE(s.WritesDisplayFiles());
  EXPECT_EQ(s.SetValueStr("SENDFILEFORMAT", "rfc5322"), 7);
  EXPECT_EQ(s.SetValueStr("SENDFILEFORMAT", "MIME"), 0);
  EXPECT_EQ(s.GetValueStr("SENDFILEFORMAT", value, sizeof value), 7);
  EXPECT_STREQ(value, "RFC5322");
  EXPECT_EQ(s.GetValueInt("BIFFNEW"), -1);
}

TEST(Options, UnknownNamesAndWrongKindsChangeNothing) {
  const Exports& api = Api();
  EXPECT_EQ(api.SetValueInt("UNKNOWN", 5), 0);
  EXPECT_EQ(api.SetValueInt(nullptr, 5), 0);
  EXPECT_EQ(api.GetValueInt(nullptr), 0);
  EXPECT_EQ(api.GetValueInt("DELEX"), 0);
  EXPECT_EQ(api.SetValueInt("LOGDIR", 5), 0);
  EXPECT_EQ(api.SetValueStr("DELE", "1"), 0);
  EXPECT_EQ(api.SetValueStr("LOGDIR", nullptr), 0);
  EXPECT_EQ(api.SetValueStr(nullptr, "x"), 0);
  char buf[8] = "keep";
  EXPECT_EQ(api.GetValueStr("DELE", buf, sizeof buf), 0);
  EXPECT_EQ(api.GetValueStr("LOGDIR", buf, 0), 0);
  EXPECT_EQ(api.GetValueStr("LOGDIR", nullptr, 8), 0);
  EXPECT_STREQ(buf, "keep");
}

TEST(Options, LogDirMovesTheLogAndReadsBackBounded) {
  ScratchDir dir;
  const Exports& api = Api();
  ASSERT_EQ(api.SetValueStr("logdir", dir.Path().c_str()), static_cast<int>(dir.Path().size()));
  char full[260];
  EXPECT_EQ(api.GetValueStr("LOGDIR", full, -1), static_cast<int>(dir.Path().size()));
  EXPECT_EQ(std::string(full), dir.Path());
  char small[5];
  EXPECT_EQ(api.GetValueStr("LOGDIR", small, 5), 4);
  EXPECT_EQ(std::string(small), dir.Path().substr(0, 4));
  api.RecvMailAll(nullptr, nullptr, nullptr, nullptr);  // writes one entry
  EXPECT_NE(ReadBytes(dir.File("zelpost.log")).find("zelexport.cpp"), std::string::npos);
}

TEST(Options, OverLongLogDirIsCutAndTheLogStays) {
  ScratchDir dir;
  InetMail s;
  ASSERT_GT(s.SetValueStr("LOGDIR", dir.Path().c_str()), 0);
  std::string big;
  for (int i = 0; i < 200; ++i) big += "\x95\x5C";
  EXPECT_EQ(s.SetValueStr("LOGDIR", big.c_str()), 258);  // 259 would split a character
  EXPECT_TRUE(EndsOnCharacterBoundary(s.logDir));
  InetMail other;
  other.Initialize(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);  // logs one entry
  EXPECT_NE(ReadBytes(dir.File("zelpost.log")).find("InetMail.cpp"), std::string::npos);
}

TEST(Password, EncodeDecodeRoundTripsEveryByte) {
  const Exports& api = Api();
  std::string plain;
  for (int c = 1; c < 256; ++c) plain += static_cast<char>(c);
  std::string encoded(3 * plain.size() + 4, '\0');
  ASSERT_EQ(api.Pencode(plain.c_str(), encoded.data()), 1);
  encoded.resize(std::strlen(encoded.c_str()));
  ASSERT_EQ(encoded.size(), 3 * plain.size() + 3);
  EXPECT_EQ(encoded.find_first_not_of("0123456789"), std::string::npos);
  const int salt = std::stoi(encoded.substr(encoded.size() - 3));
  EXPECT_LT(salt, 200);
  // The first group is the last byte plus the salt.
  EXPECT_EQ(std::stoi(encoded.substr(0, 3)), 255 + salt);
  std::string decoded(plain.size() + 1, 'x');
  ASSERT_EQ(api.Pdecode(encoded.c_str(), decoded.data()), 1);
  EXPECT_EQ(std::string(decoded.c_str()), plain);
}

TEST(Password, AsciiGroupsAndShortInputs) {
  const Exports& api = Api();
  char out[16] = {};
  ASSERT_EQ(api.Pencode("", out), 1);
  EXPECT_EQ(std::strlen(out), 3u);
  char plain[8] = "keep";
  EXPECT_EQ(api.Pdecode("12", plain), 0);
  EXPECT_STREQ(plain, "keep");
  EXPECT_EQ(api.Pdecode("123", plain), 1);
  EXPECT_STREQ(plain, "");
  // Groups are read backwards: "100" "101" with salt 050 give "32".
  EXPECT_EQ(api.Pdecode("100101050", plain), 1);
  EXPECT_STREQ(plain, "32");
  // Characters before the first whole group are ignored.
  EXPECT_EQ(api.Pdecode("9100101050", plain), 1);
  EXPECT_STREQ(plain, "32");
  // A group is its leading digits; without one (a blank, a sign) it is 0.
  EXPECT_EQ(api.Pdecode("6x5 65+65001", plain), 1);
  EXPECT_STREQ(plain, "\xFF\xFF\x05");
}

}  // namespace
}  // namespace zel::test
