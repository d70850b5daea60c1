// zelrecv's command line and the lines it shows, without the program.
#include "programs/recv_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programs/console_text.h"
#include "programs/progress_line.h"

namespace zel::sender {
namespace {

RecvParse Parse(std::vector<const char*> args, RecvFields& fields, std::string& option) {
  args.insert(args.begin(), "zelrecv");
  return ParseRecvArguments(static_cast<int>(args.size()), args.data(), fields, option);
}

TEST(RecvOptions, LettersValuesFlagsAndMandatoryFields) {
  RecvFields f;
  std::string option;
  EXPECT_STREQ(MissingRecvField(f), "err: POP3サーバ名が指定されていません\n");
  ASSERT_EQ(Parse({"-spop:995", "/Utaro", "-lrecv.lst", "stray", "/Mmail", "-Kseen", "-bbox",
                   "-D", "/a", "-T1", "-Cca.pem", "-Fpw", "-EVAR", "-v", "-Spop2",
                   "--delete-seen", "--max-size", "1048576"},
                  f, option),
            RecvParse::kOk);
  EXPECT_STREQ(f.pop3Server, "pop2");  // the later one wins
  EXPECT_STREQ(f.userName, "taro");
  EXPECT_STREQ(f.listFile, "recv.lst");
  EXPECT_STREQ(f.mailFolder, "mail");
  EXPECT_STREQ(f.seenFile, "seen");
  EXPECT_STREQ(f.mailbox, "box");
  EXPECT_STREQ(f.caFile, "ca.pem");
  EXPECT_STREQ(f.passwordFile, "pw");
  EXPECT_STREQ(f.passwordVariable, "VAR");
  EXPECT_TRUE(f.dele && f.apop && f.verbose && f.deleteSeen && !f.help);
  EXPECT_EQ(f.maxSize, 1048576);
  EXPECT_EQ(f.tls, 1);
  EXPECT_EQ(MissingRecvField(f), nullptr);
  EXPECT_EQ(f.password[0], '\0');  // no option gives it

  for (const char* help : {"-h", "/?", "--help"}) {
    RecvFields h;
    EXPECT_EQ(Parse({help}, h, option), RecvParse::kOk) << help;
    EXPECT_TRUE(h.help) << help;
  }
  // Unknown letters, a password on the command line, values flags do not take.
  for (const char* wrong : {"-X", "-P", "-", "--verbose", "-T3", "-Tx", "-D1", "-Hx", "--max-size"}) {
    RecvFields w;
    EXPECT_EQ(Parse({wrong}, w, option), RecvParse::kUsage) << wrong;
  }
  for (const char* size : {"-1", "1k", "", "2147483648"}) {
    RecvFields w;
    EXPECT_EQ(Parse({"--max-size", size}, w, option), RecvParse::kUsage) << size;
  }
  // IMAP: --imap, --folder NAME; --idle needs --imap and -K or -D.
  RecvFields imap;
  ASSERT_EQ(Parse({"-Ss", "-Uu", "-Ll", "-Mm", "--idle", "--folder", "Archive"}, imap, option), RecvParse::kOk);
  EXPECT_STREQ(imap.imapFolder, "Archive");
  EXPECT_STREQ(MissingRecvField(imap), "err: --idle は IMAP (--imap) で使います\n");
  ASSERT_EQ(Parse({"--imap"}, imap, option), RecvParse::kOk);
  EXPECT_STREQ(MissingRecvField(imap), "err: --idle には既読UIDLファイル (-K) か -D が必要です\n");
  ASSERT_EQ(Parse({"-Kseen"}, imap, option), RecvParse::kOk);
  EXPECT_EQ(MissingRecvField(imap), nullptr);
  EXPECT_TRUE(imap.imap && imap.longOptions.idle);
  EXPECT_EQ(Parse({"--folder"}, imap, option), RecvParse::kUsage);

  const std::string longPath = "-L" + std::string(kPathSize, 'p');
  EXPECT_EQ(Parse({longPath.c_str()}, f, option), RecvParse::kTooLong);
  EXPECT_EQ(option, "-L");

  RecvFields order;
  for (const auto& [arg, message] : {std::pair{"-Ss", "err: ユーザ名が指定されていません\n"},
                                     {"-Uu", "err: リストファイル名が指定されていません\n"},
                                     {"-Ll", "err: メールフォルダ名が指定されていません\n"}}) {
    ASSERT_EQ(Parse({arg}, order, option), RecvParse::kOk);
    EXPECT_STREQ(MissingRecvField(order), message);
  }
}

// The live line: counts, subject and sender cut to the width at a
// character boundary, control bytes shown as blanks; the list line's texts
// without their header names; the plain line keeps three fields.
TEST(RecvOptions, ProgressLines) {
  InitConsoleText();  // the test's locale, the Windows console's code page
  const ProgressTexts texts{"  3 / 12", " 件名\tです\x1b[2J", " 山田 <y@example.jp> "};
  std::size_t columns = 0;
  EXPECT_EQ(LiveLine(texts, 80, &columns), ConsoleText("  3 / 12  件名 です [2J  山田 <y@example.jp>"));
  EXPECT_EQ(columns, 44u);
  // 13 columns end inside 名: the cut is before it.
  EXPECT_EQ(LiveLine(texts, 13, &columns), ConsoleText("  3 / 12  件"));
  EXPECT_EQ(columns, 12u);
  EXPECT_EQ(LiveLine({"000/000", "", ""}, 80, &columns), "000/000");

  EXPECT_EQ(TotalOf("  3 / 12"), 12);
  EXPECT_EQ(TotalOf("1000 / 1000"), 1000);
  EXPECT_EQ(TotalOf("000/000"), 0);
  EXPECT_EQ(TotalOf("000 / 000"), 0);
  EXPECT_EQ(CountsText(7, 1000), "  7 / 1000");

  std::string subject, sender;
  ASSERT_TRUE(ListLineTexts("/m/zel00001.wml\t2025/12/01 10:00:00\tFrom: 山田 <y@x.jp>\t"
                            "Subject: 件名: 続き",
                            subject, sender));
  EXPECT_EQ(subject, "件名: 続き");
  EXPECT_EQ(sender, "山田 <y@x.jp>");
  ASSERT_TRUE(ListLineTexts("/m/zel00002.wml\t1900/01/00 00:00:00\t\t", subject, sender));
  EXPECT_EQ(subject + sender, "");
  EXPECT_FALSE(ListLineTexts("no fields", subject, sender));
  EXPECT_EQ(PlainLine(2, "件\tb", "c"), ConsoleText("2\t件 b\tc\n"));
}

}  // namespace
}  // namespace zel::sender
