// The index of a mailbox that receive-all wrote: one record per stored
// message at the line of its "X-MailFile:" entry, with its subject, sender,
// date and Message-Id; a later run's messages appended after them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../../index/index_support.h"
#include "recv_all_support.h"
#include "zelpost.h"

namespace zel::e2e {
namespace {

using MailboxIndexE2e = RecvAllTest;

TEST_F(MailboxIndexE2e, RecordsOfTheMailboxReceiveAllWrote) {
#ifndef _WIN32
  // The test messages' date, 2001-10-02 09:05:07 +0900, in Japan.
  const test::ZoneScope zone("Asia/Tokyo");
  const std::string date = "2001/10/02(火) 09:05:07";
#endif
  std::vector<std::string> ids = DropMessages("ix", 3);
  ASSERT_EQ(Run(true, true).result, 3);
  ASSERT_EQ(zelMakeIndexMBX(mailbox_.c_str()), 1);
  for (const std::string& id : DropMessages("iy", 2)) ids.push_back(id);
  ASSERT_EQ(Run(true, true).result, 2);
  ASSERT_EQ(zelMakeIndexMBX(mailbox_.c_str()), 1);

  std::vector<std::string> entries;  // line numbers of the "X-MailFile:" lines
  const std::vector<std::string> box = test::TextLines(mailbox_);
  for (std::size_t i = 0; i < box.size(); ++i) {
    char number[24];
    std::snprintf(number, sizeof number, "%08zu", i + 1);
    if (box[i].rfind("X-MailFile: ", 0) == 0) entries.push_back(number);
  }
  const std::vector<std::string> records = test::TextLines(mailbox_.substr(0, mailbox_.size() - 4) + ".dir");
  ASSERT_EQ(records.size(), 5u);
  ASSERT_EQ(entries.size(), 5u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::vector<std::string> f;
    for (std::size_t start = 0;;) {
      const std::size_t cut = records[i].find('\x01', start);
      f.push_back(records[i].substr(start, cut - start));
      if (cut == std::string::npos) break;
      start = cut + 1;
    }
    ASSERT_EQ(f.size(), 6u) << records[i];
    EXPECT_EQ(f[0], entries[i]);
    EXPECT_EQ(f[1], "00000000");
    EXPECT_EQ(f[2], "テスト " + ids[i]);
    EXPECT_EQ(f[3], "山田 <sender@zelpost.test>");
#ifndef _WIN32
    EXPECT_EQ(f[4], date);
#else
    EXPECT_EQ(f[4].size(), std::string("2001/10/02(火) 09:05:07").size());
#endif
    EXPECT_EQ(f[5], "<" + ids[i] + "@zelpost.test>");
  }
}

}  // namespace
}  // namespace zel::e2e
