// Modified UTF-7 mailbox names both ways, and the host's Shift-JIS names.
#include <gtest/gtest.h>

#include <string>

#include "codec/imap_folder_name.h"

namespace zel {
namespace {

TEST(ImapFolderName, BothWays) {
  struct Case {
    const char* utf8;
    const char* name;
  };
  // RFC 3501 5.1.3's example, a Japanese name, "&", a character beyond
  // the BMP (a surrogate pair), ASCII unchanged.
  const Case cases[] = {
      {"~peter/mail/\xE5\x8F\xB0\xE5\x8C\x97/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
       "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "&ZeVnLIqe-"},
      {"A&B", "A&-B"},
      {"\xF0\x9F\x98\x80", "&2D3eAA-"},
      {"INBOX", "INBOX"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_TRUE(ImapUtf7FromUtf8(c.utf8, out));
    EXPECT_EQ(out, c.name);
    EXPECT_TRUE(ImapUtf7ToUtf8(c.name, out));
    EXPECT_EQ(out, c.utf8);
  }
  for (const char* bad : {"&ZeVnLIqe", "&Ze-", "&2D0-", "&3gA-", "a\x80", "&Z?V-", "\t"}) {
    std::string out = "x";
    EXPECT_FALSE(ImapUtf7ToUtf8(bad, out)) << bad;
    EXPECT_TRUE(out.empty());
  }
  std::string out;
  EXPECT_FALSE(ImapUtf7FromUtf8("\xC3", out));
}

TEST(ImapFolderName, HostText) {
  std::string out;
  EXPECT_TRUE(ImapFolderFromHost("\x93\xFA\x96\x7B\x8C\xEA", out));  // 日本語 in Shift-JIS
  EXPECT_EQ(out, "&ZeVnLIqe-");
  EXPECT_TRUE(ImapFolderToHost("INBOX/&ZeVnLIqe-", out));
  EXPECT_EQ(out, "INBOX/\x93\xFA\x96\x7B\x8C\xEA");
  EXPECT_FALSE(ImapFolderToHost("&2D3eAA-", out));  // no Shift-JIS form
  EXPECT_FALSE(ImapFolderFromHost("\x93", out));    // a lead byte alone
}

}  // namespace
}  // namespace zel
