// Option parsing of zelsend.
#include "programs/sender_options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "programs/console_text.h"
#include "programs/password_source.h"

namespace zel::sender {
namespace {

ParseResult Parse(std::vector<const char*> args, SenderFields& fields, std::string& option) {
  args.insert(args.begin(), "zelsend");
  return ParseArguments(static_cast<int>(args.size()), args.data(), fields, option);
}

TEST(SenderOptions, LettersInAnyCaseWithDashOrSlash) {
  SenderFields f;
  std::string option;
  ASSERT_EQ(Parse({"-ssmtp1", "/Ma@x.jp", "-nName", "/fmail.qml", "-bspop", "-BUuser",
                   "/bPpass", "stray", "-Ssmtp2"},
                  f, option),
            ParseResult::kOk);
  EXPECT_EQ(f.tls, -1);
  EXPECT_FALSE(f.smtpAuth);
  ASSERT_EQ(Parse({"-bfpw.txt", "/BEPW_VAR", "-t2", "/a", "-Cca.pem"}, f, option), ParseResult::kOk);
  EXPECT_EQ(f.tls, 2);
  EXPECT_TRUE(f.smtpAuth);
  EXPECT_STREQ(f.caFile, "ca.pem");
  EXPECT_STREQ(f.passwordFile, "pw.txt");
  EXPECT_STREQ(f.passwordVariable, "PW_VAR");
  EXPECT_STREQ(f.smtpServer, "smtp2");  // the later one wins
  EXPECT_STREQ(f.mailAddress, "a@x.jp");
  EXPECT_STREQ(f.fullName, "Name");
  EXPECT_STREQ(f.sendFile, "mail.qml");
  EXPECT_STREQ(f.pop3Server, "pop");
  EXPECT_STREQ(f.userName, "user");
  EXPECT_STREQ(f.password, "pass");
}

// -U (any case, no value) and --utf8 read the send file as UTF-8;
// --charset=NAME names CHARSET, written as it stands.
TEST(SenderOptions, Charsets) {
  SenderFields f;
  std::string option;
  ASSERT_EQ(Parse({"-Ssmtp"}, f, option), ParseResult::kOk);
  EXPECT_FALSE(f.utf8SendFile);
  EXPECT_STREQ(f.charset, "");
  for (const char* utf8 : {"-u", "/U", "--utf8"}) {
    SenderFields g;
    ASSERT_EQ(Parse({utf8}, g, option), ParseResult::kOk) << utf8;
    EXPECT_TRUE(g.utf8SendFile) << utf8;
  }
  ASSERT_EQ(Parse({"--charset=UTF-8", "-Cca.pem"}, f, option), ParseResult::kOk);
  EXPECT_STREQ(f.charset, "UTF-8");
  EXPECT_STREQ(f.caFile, "ca.pem");
  for (const char* wrong : {"-u8", "--UTF8", "--charset", "--utf-8"}) {
    EXPECT_EQ(Parse({wrong}, f, option), ParseResult::kUsage) << wrong;
  }
  const std::string longName = "--charset=" + std::string(kShortTextSize, 'x');
  EXPECT_EQ(Parse({longName.c_str()}, f, option), ParseResult::kTooLong);
  EXPECT_EQ(option, "--charset");
}

TEST(SenderOptions, UnknownLettersGiveTheUsage) {
  SenderFields f;
  std::string option;
  EXPECT_EQ(Parse({"-Ssmtp", "-X"}, f, option), ParseResult::kUsage);
  EXPECT_EQ(Parse({"-BX"}, f, option), ParseResult::kUsage);
  EXPECT_EQ(Parse({"-B"}, f, option), ParseResult::kUsage);
  EXPECT_EQ(Parse({"-"}, f, option), ParseResult::kUsage);
  for (const char* value : {"-T", "-T3", "-T12", "-Tx", "-A1"}) {
    EXPECT_EQ(Parse({value}, f, option), ParseResult::kUsage) << value;
  }
}

TEST(SenderOptions, TooLongValuesAreRefused) {
  SenderFields f;
  std::string option;
  const std::string host = "-S" + std::string(kHostNameSize - 1, 'h');
  EXPECT_EQ(Parse({host.c_str()}, f, option), ParseResult::kOk);
  const std::string longer = "-S" + std::string(kHostNameSize, 'h');
  EXPECT_EQ(Parse({longer.c_str()}, f, option), ParseResult::kTooLong);
  EXPECT_EQ(option, "-S");
  const std::string path = "-F" + std::string(260, 'p');
  EXPECT_EQ(Parse({path.c_str()}, f, option), ParseResult::kTooLong);
}

TEST(SenderOptions, ConsoleTextBecomesShiftJis) {
  InitConsoleText();  // "C" or a UTF-8 locale in the test environment
  SenderFields f;
  std::string option;
#ifdef _WIN32
  // The Windows console hands over Shift-JIS (code page 932) as it is.
  ASSERT_EQ(Parse({"-N山田"}, f, option), ParseResult::kOk);
#else
  ASSERT_EQ(Parse({reinterpret_cast<const char*>(u8"-N山田")}, f, option), ParseResult::kOk);
#endif
  EXPECT_STREQ(f.fullName, "山田");  // a Shift-JIS literal
}

#ifndef _WIN32
// The console's character set follows the locale's name even when that
// locale is not installed: a Shift-JIS terminal gets Shift-JIS messages.
TEST(SenderOptions, ShiftJisLocaleNameKeepsTextAsItIs) {
  const char* saved = std::getenv("LC_ALL");
  const std::string savedValue = saved != nullptr ? saved : "";
  setenv("LC_ALL", "ja_JP.SJIS", 1);
  InitConsoleText();
  EXPECT_EQ(ConsoleText("山田"), "山田");  // Shift-JIS literals, unchanged
  EXPECT_EQ(HostText("山田"), "山田");
  setenv("LC_ALL", "C.UTF-8", 1);
  InitConsoleText();
  EXPECT_EQ(ConsoleText("山田"), reinterpret_cast<const char*>(u8"山田"));
  EXPECT_EQ(ConsoleText("abc"), "abc");
  if (saved != nullptr) {
    setenv("LC_ALL", savedValue.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  InitConsoleText();
}
#endif

TEST(SenderOptions, MandatoryFieldsInOrder) {
  SenderFields f;
  EXPECT_STREQ(MissingFieldMessage(f), "err: SMTPサーバ名が指定されていません\n");
  CopyBounded(f.smtpServer, "s");
  EXPECT_STREQ(MissingFieldMessage(f), "err: メールアドレスが指定されていません\n");
  CopyBounded(f.mailAddress, "m");
  EXPECT_STREQ(MissingFieldMessage(f), "err: フルネームが指定されていません\n");
  CopyBounded(f.fullName, "n");
  EXPECT_STREQ(MissingFieldMessage(f), "err: ファイル名が指定されていません\n");
  CopyBounded(f.sendFile, "f");
  EXPECT_EQ(MissingFieldMessage(f), nullptr);
}

TEST(SenderOptions, PopBeforeSmtpFlag) {
  SenderFields f;
  CopyBounded(f.userName, "u");
  CopyBounded(f.password, "p");
  EXPECT_EQ(ApplyPopBeforeSmtp(f), 0);
  EXPECT_STREQ(f.pop3Server, "pop3server");
  EXPECT_STREQ(f.userName, "username");
  EXPECT_STREQ(f.password, "password");

  SenderFields g;
  CopyBounded(g.pop3Server, "pop");
  CopyBounded(g.userName, "u");
  EXPECT_EQ(ApplyPopBeforeSmtp(g), -1);
  CopyBounded(g.password, "p");
  EXPECT_EQ(ApplyPopBeforeSmtp(g), 1);

  // SMTP AUTH keeps the account for itself and needs all of it.
  SenderFields h;
  h.smtpAuth = true;
  CopyBounded(h.userName, "u");
  EXPECT_EQ(ApplyPopBeforeSmtp(h), -2);
  CopyBounded(h.password, "p");
  EXPECT_EQ(ApplyPopBeforeSmtp(h), 0);
  EXPECT_STREQ(h.pop3Server, "pop3server");
  EXPECT_STREQ(h.userName, "u");
  EXPECT_STREQ(h.password, "p");
}

// Sets the environment variable `name`, or removes it (`value` nullptr).
void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");  // "" removes it
#else
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

// The password sources: -BF's first line, else -BE's variable; a source
// that cannot give one is named in the message, a password too long for
// its field is refused.
TEST(SenderOptions, PasswordFromFileOrVariable) {
  InitConsoleText();
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "zelsend_password_test.txt";
  const std::string path = file.string();
  const std::string missing = path + ".none";
  const std::string tooLong(kSecretSize, 'p');  // one more than the field holds
#ifdef _WIN32
  const char* const japanese = "秘密";  // the console's code page 932
#else
  const char* const japanese = reinterpret_cast<const char*>(u8"秘密");
#endif
  struct Case {
    std::string fileBytes;  // written to `file`
    const char* fileOption;
    const char* variableValue;  // nullptr: unset
    const char* variableOption;
    std::string message;
    std::string password;
  } cases[] = {
      {"pw1\r\nsecond\n", path.c_str(), "var", "ZEL_TEST_PW", "", "pw1"},
      {"pw2", path.c_str(), nullptr, "", "", "pw2"},
      {"\n", path.c_str(), nullptr, "", "", ""},
      {"", missing.c_str(), "var", "ZEL_TEST_PW",
       "err: パスワードファイルが読めません [" + missing + "]\n", ""},
      {tooLong + "\n", path.c_str(), nullptr, "", "err: オプションの値が長すぎます [-BF]\n", ""},
      {"", "", "var", "ZEL_TEST_PW", "", "var"},
      {"", "", japanese, "ZEL_TEST_PW", "", "秘密"},
      {"", "", nullptr, "ZEL_TEST_PW", "err: 環境変数が設定されていません [ZEL_TEST_PW]\n", ""},
      {"", "", tooLong.c_str(), "ZEL_TEST_PW", "err: オプションの値が長すぎます [-BE]\n", ""},
      {"", "", "var", "", "", ""},
  };
  for (const Case& c : cases) {
    std::ofstream(file, std::ios::binary) << c.fileBytes;
    SetVariable("ZEL_TEST_PW", c.variableValue);
    SenderFields f;
    CopyBounded(f.pop3Server, "pop");
    CopyBounded(f.userName, "user");
    ASSERT_TRUE(NeedsPassword(f));
    CopyBounded(f.passwordFile, c.fileOption);
    CopyBounded(f.passwordVariable, c.variableOption);
    EXPECT_EQ(PasswordFromSources(PasswordSourcesOf(f), f.password, sizeof f.password), c.message)
        << c.fileBytes << c.variableOption;
    EXPECT_STREQ(f.password, c.password.c_str()) << c.fileBytes << c.variableOption;
  }
  SetVariable("ZEL_TEST_PW", nullptr);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace zel::sender
