// The object gives what the flat exports give for the same input: version
// text, results, error numbers and texts, dummy message bytes, log entries;
// and its scrambling buffers hold any password.
#include <gtest/gtest.h>

#include <string>

#include "../api/scratch.h"
#include "com_host.h"

namespace zel::test {
namespace {

std::string FlatErrorText() {
  char text[256] = {};
  Api().GetErrorStr(text, sizeof text);
  return text;
}

std::string ObjectErrorText(IZelpostCom* o) {
  Text text;
  EXPECT_EQ(o->vtbl->get_ErrDiscription(o, text.out()), kOk);
  return text.Host();
}

std::int32_t ObjectErrorNumber(IZelpostCom* o) {
  std::int32_t number = 1;
  EXPECT_EQ(o->vtbl->get_ErrNumber(o, &number), kOk);
  return number;
}

TEST(FlatParity, ResultsErrorsMessagesAndLogEntries) {
  ScratchDir dir;
  ASSERT_GT(Api().SetValueStr("LOGDIR", dir.Path().c_str()), 0);
  ComObject o;
  ASSERT_NE(o.get(), nullptr);
  const Exports& api = Api();

  Text version;
  ASSERT_EQ(o->vtbl->Version(o.get(), version.out()), kOk);
  char flatVersion[64] = {};
  api.Version(flatVersion, 0);
  EXPECT_EQ(version.Host(), flatVersion);

  // A refused Initialize: the same number and text.
  std::int32_t ret = -1;
  Text pop(u"127.0.0.1:1"), empty(u""), user(u"user"), pw(u"pw"), address(u"taro@example.jp"),
      name(u"山田 太郎");
  ASSERT_EQ(o->vtbl->Initialize(o.get(), pop.get(), empty.get(), user.get(), pw.get(), address.get(),
                                name.get(), &ret),
            kOk);
  EXPECT_EQ(ret, 0);
  EXPECT_EQ(api.Initialize("127.0.0.1:1", "", "user", "pw", "taro@example.jp", "山田 太郎"), 0);
  EXPECT_EQ(ObjectErrorNumber(o.get()), -1000);
  EXPECT_EQ(ObjectErrorText(o.get()), FlatErrorText());

  // A Japanese send file under a Japanese name: the same message bytes.
  ASSERT_EQ(o->vtbl->Initialize(o.get(), pop.get(), pop.get(), user.get(), pw.get(), address.get(), name.get(),
                                &ret),
            kOk);
  EXPECT_EQ(ret, 1);
  ASSERT_EQ(api.Initialize("127.0.0.1:1", "127.0.0.1:1", "user", "pw", "taro@example.jp", "山田 太郎"), 1);
  const std::string sendFile = dir.Path() + (dir.Path().find('\\') != std::string::npos ? "\\" : "/") + "送信.qml";
  std::string nativeSendFile;
  ASSERT_TRUE(NativePath(sendFile, nativeSendFile));
  WriteBytes(nativeSendFile, "To: 花子 <hanako@example.jp>\r\nSubject: 会議の件\r\n\r\n本日の会議は十時からです。\r\n.\r\n");
  Text mail(Wide(sendFile)), none, dummy(Wide(dir.File("object.eml")));
  ASSERT_EQ(o->vtbl->SendMailDummy(o.get(), mail.get(), none.get(), dummy.get(), &ret), kOk);
  EXPECT_EQ(ret, 1);
  ASSERT_EQ(api.SendMailDummy(sendFile.c_str(), nullptr, dir.File("flat.eml").c_str()), 1);
  const std::string message = ReadBytes(dir.File("object.eml"));
  EXPECT_NE(message.find("Subject: =?ISO-2022-JP?B?"), std::string::npos);
  EXPECT_EQ(WithoutStampLines(message), WithoutStampLines(ReadBytes(dir.File("flat.eml"))));

  // A send file that cannot be opened: the same number and text.
  Text missing(Wide(dir.File("missing.qml")));
  ASSERT_EQ(o->vtbl->SendMail(o.get(), missing.get(), none.get(), &ret), kOk);
  EXPECT_EQ(ret, 0);
  EXPECT_EQ(api.SendMailOne(dir.File("missing.qml").c_str(), nullptr), 0);
  EXPECT_EQ(ObjectErrorNumber(o.get()), -1100);
  EXPECT_EQ(ObjectErrorText(o.get()), FlatErrorText());

  // Missing receive arguments are refused as the exports refuse them: the
  // same entries, the error state kept.
  std::remove(dir.File("zelpost.log").c_str());
  Text folder(Wide(dir.Path()));
  ASSERT_EQ(o->vtbl->RecvMailAll(o.get(), empty.get(), folder.get(), none.get(), none.get(), &ret), kOk);
  EXPECT_EQ(ret, 0);
  ASSERT_EQ(o->vtbl->RecvMailAll(o.get(), dummy.get(), none.get(), empty.get(), empty.get(), &ret), kOk);
  EXPECT_EQ(ret, 0);
  ASSERT_EQ(o->vtbl->RecvMailDummy(o.get(), none.get(), empty.get(), &ret), kOk);
  EXPECT_EQ(ret, 0);
  EXPECT_EQ(api.RecvMailAll("", dir.Path().c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(api.RecvMailAll("x", nullptr, "", ""), 0);
  EXPECT_EQ(api.RecvMailDummy(nullptr, ""), 0);
  EXPECT_EQ(ObjectErrorNumber(o.get()), -1100);
  const auto lines = LogLines(dir.File("zelpost.log"));
  ASSERT_EQ(lines.size(), 6u);
  for (std::size_t i = 0; i < 3; ++i) {
    // After the time stamp ("YYYY/MM/DD HH:MM:SS "): module, line, text.
    EXPECT_EQ(lines[i].substr(20), lines[i + 3].substr(20));
  }
  EXPECT_NE(lines[2].find("zelRecvMailDummy:メールファイルが NULL"), std::string::npos);
}

TEST(FlatParity, ScramblingBuffersFollowTheInput) {
  ComObject o;
  ASSERT_NE(o.get(), nullptr);
  const std::u16string password = u"a-password-of-forty-characters-0123456789";
  Text plain(password), scrambled, back;
  ASSERT_EQ(o->vtbl->Pencode(o.get(), plain.get(), scrambled.out()), kOk);
  const std::string digits = scrambled.Host();
  EXPECT_EQ(digits.size(), 3 * password.size() + 3);
  ASSERT_EQ(o->vtbl->Pdecode(o.get(), scrambled.get(), back.out()), kOk);
  EXPECT_EQ(back.Host(), std::string(password.begin(), password.end()));
  std::string flat(password.size() + 1, 'x');
  ASSERT_EQ(Api().Pdecode(digits.c_str(), flat.data()), 1);
  EXPECT_EQ(flat.c_str(), back.Host());

  // Absent and short texts: a salt alone, and empty results.
  Text none, shortText(u"12");
  ASSERT_EQ(o->vtbl->Pencode(o.get(), none.get(), scrambled.out()), kOk);
  EXPECT_EQ(scrambled.Host().size(), 3u);
  ASSERT_EQ(o->vtbl->Pdecode(o.get(), shortText.get(), back.out()), kOk);
  EXPECT_EQ(back.Host(), "");
  ASSERT_EQ(o->vtbl->Pdecode(o.get(), none.get(), back.out()), kOk);
  EXPECT_EQ(back.Host(), "");
}

}  // namespace
}  // namespace zel::test
