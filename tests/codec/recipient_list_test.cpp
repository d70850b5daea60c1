// Recipient normalisation: what reaches RCPT TO from the send file's
// To, Cc and Bcc texts.
#include "codec/recipient_list.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(RecipientList, BareAddressesOfTheCommonForms) {
  EXPECT_EQ(NormaliseRecipients(" taro@example.jp\n"), "taro@example.jp");
  EXPECT_EQ(NormaliseRecipients(" Taro Yamada <taro@example.jp>\n"), "taro@example.jp");
  EXPECT_EQ(NormaliseRecipients(" taro@example.jp (Taro)\n"), "taro@example.jp");
  EXPECT_EQ(NormaliseRecipients(" \"Yamada, Taro\" <taro@example.jp>\n"), "taro@example.jp");
}

TEST(RecipientList, LeadingCommentKeepsTheAddress) {
  EXPECT_EQ(NormaliseRecipients(" (Taro) taro@example.jp\n"), "taro@example.jp");
  EXPECT_EQ(NormaliseRecipients(" (a (nested; b) c) taro@example.jp\n"), "taro@example.jp");
}

TEST(RecipientList, SeparatorsBlanksAndEmptyItems) {
  EXPECT_EQ(NormaliseRecipients(" a@x.jp; b@x.jp ,, c@x.jp\t d@x.jp ;\n,"
                                " e@x.jp\n,\n"),
            "a@x.jp,b@x.jp,c@x.jp,d@x.jp,e@x.jp");
  EXPECT_EQ(NormaliseRecipients(""), "");
  EXPECT_EQ(NormaliseRecipients(" \n, \n,\n"), "");
}

TEST(RecipientList, ControlBytesNeverStayInAnAddress) {
  EXPECT_EQ(NormaliseRecipients(" a@x.jp\rRSET\n"), "a@x.jp,RSET");
  EXPECT_EQ(NormaliseRecipients(" <a@x.jp\r>, \"b\rc\" <d@x.jp>\n"), "<a@x.jp,>,\"b,d@x.jp");
}

TEST(RecipientList, JapaneseDisplayNames) {
  // 山田 <yamada@x.jp>, 表示 (0x95 0x5C: trail byte is a backslash) in quotes.
  EXPECT_EQ(NormaliseRecipients("\x8E\x52\x93\x63 <yamada@x.jp>, \"\x95\x5C\" <b@x.jp>\n"),
            "yamada@x.jp,b@x.jp");
}

TEST(RecipientList, UnbalancedQuoteEndsAtTheLineEnd) {
  EXPECT_EQ(NormaliseRecipients(" \"Taro <a@x.jp>\n, b@x.jp\n"), "a@x.jp,b@x.jp");
  // An unclosed comment is kept whole: the server refuses it by name.
  EXPECT_EQ(NormaliseRecipients(" (Taro a@x.jp\n, b@x.jp\n"), "(Taroa@x.jp,b@x.jp");
  EXPECT_EQ(NormaliseRecipients(" \"Taro <a@x.jp>, b@x.jp\n"), "a@x.jp,b@x.jp");
  EXPECT_EQ(NormaliseRecipients(" Taro) a@x.jp, (b@x.jp\n"), "Taro)a@x.jp,(b@x.jp");
}

}  // namespace
}  // namespace zel
