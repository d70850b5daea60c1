// The seen-UIDL set: tree order, marks, the 80-byte record file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/md5.h"
#include "store/seen_set.h"

namespace zel {
namespace {

// One record as the file holds it.
std::string Record(std::string_view key) {
  std::string out(key);
  out.resize(78, '\0');
  return out + "\r\n";
}

// The keys of a record file, in file order.
std::vector<std::string> Keys(const std::string& records) {
  std::vector<std::string> keys;
  for (std::size_t at = 0; at + 80 <= records.size(); at += 80) {
    keys.emplace_back(records.c_str() + at);
  }
  return keys;
}

class SeenFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() /
           ("zel-seen-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "seen.dat").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Bytes() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void Put(const std::string& bytes) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(SeenFile, RecordsKeepEntryOrderOnceEachAndSaveLoadSaveIsIdentical) {
  SeenSet set;
  for (const char* key : {"m", "c", "x", "a", "d", "m", ""}) set.Insert(key);
  ASSERT_EQ(set.Save(path_), 1);
  const std::string first = Bytes();
  // The order the keys entered; the second "m" is the first one again.
  EXPECT_EQ(Keys(first), (std::vector<std::string>{"m", "c", "x", "a", "d", ""}));
  EXPECT_EQ(first.substr(0, 80), Record("m"));
  EXPECT_EQ(first.size(), 6u * 80);

  // Any record order is readable, and a duplicate record counts once.
  Put(Record("x") + Record("a") + Record("m") + Record("a") + Record(""));
  SeenSet again;
  again.Load(path_);
  EXPECT_EQ(again.size(), 4u);
  for (const char* key : {"m", "x", "a", ""}) EXPECT_EQ(again.Lookup(key), 1) << key;
  ASSERT_EQ(again.Save(path_), 1);
  const std::string second = Bytes();
  EXPECT_EQ(Keys(second), (std::vector<std::string>{"x", "a", "m", ""}));

  SeenSet third;
  third.Load(path_);
  for (const char* key : {"m", "x", "a", ""}) third.Lookup(key);
  ASSERT_EQ(third.Save(path_), 1);
  EXPECT_EQ(Bytes(), second);
}

TEST_F(SeenFile, KeepAllKeepsTheKeysARunDidNotReach) {
  Put(Record("reached") + Record("not-reached"));
  SeenSet set;
  set.Load(path_);
  EXPECT_EQ(set.Lookup("reached"), 1);
  set.Insert("stored");
  set.KeepAll();
  ASSERT_EQ(set.Save(path_), 1);
  EXPECT_EQ(Bytes(), Record("reached") + Record("not-reached") + Record("stored"));
}

TEST_F(SeenFile, OnlyKeysMetThisRunAreWrittenBack) {
  Put(Record("gone") + Record("kept") + Record("also-gone") + "partial record");
  SeenSet set;
  set.Load(path_);
  EXPECT_EQ(set.size(), 3u);  // the trailing partial record is ignored
  EXPECT_EQ(set.Lookup("kept"), 1);
  EXPECT_EQ(set.Lookup("new"), 0);
  EXPECT_EQ(set.size(), 3u);  // Lookup never adds
  set.Insert("new");
  ASSERT_EQ(set.Save(path_), 1);
  EXPECT_EQ(Bytes(), Record("kept") + Record("new"));
}

TEST_F(SeenFile, MissingFileIsEmptyAndUnwritableFileFails) {
  SeenSet set;
  set.Load((dir_ / "none.dat").string());
  EXPECT_EQ(set.size(), 0u);
  EXPECT_EQ(set.Lookup("x"), 0);
  EXPECT_EQ(set.Save(path_), 1);
  EXPECT_EQ(Bytes(), "");  // nothing marked: an empty file
  set.Insert("x");
  EXPECT_EQ(set.Save((dir_ / "no-such-dir" / "seen.dat").string()), 0);
}

TEST_F(SeenFile, SaveReplacesAtomicallyAndLeavesNoTemporaryFile) {
  Put(Record("old"));
  SeenSet set;
  set.Insert("new");
  ASSERT_EQ(set.Save(path_), 1);
  EXPECT_EQ(Bytes(), Record("new"));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 1u);
}

TEST_F(SeenFile, WrittenInPlaceWhenNoTemporaryFileCanBeMade) {
  // Something that is not a file holds the temporary name: the seen file
  // must still be updated, or every old message downloads again.
  Put(Record("old"));
  std::filesystem::create_directory(path_ + ".zeltmp");
  SeenSet set;
  set.Insert("new");
  ASSERT_EQ(set.Save(path_), 1);
  EXPECT_EQ(Bytes(), Record("new"));
}

TEST_F(SeenFile, LongKeysFitTheRecordAndStayDistinct) {
  const std::string common(77, 'k');
  const std::string longA = common + "-first";
  const std::string longB = common + "-second";
  EXPECT_EQ(SeenRecordKey(common), common);  // 77 bytes: unchanged
  const std::string storedA = SeenRecordKey(longA);
  EXPECT_EQ(storedA, std::string(44, 'k') + "#" + md5Hex(longA));
  EXPECT_EQ(storedA.size(), 77u);
  EXPECT_NE(storedA, SeenRecordKey(longB));

  // The head is cut at a character boundary: 43 ASCII bytes, then a
  // Shift-JIS character that would straddle byte 44.
  const std::string sjis = std::string(43, 'a') + "\x93\xfa" + std::string(40, 'b');
  EXPECT_EQ(SeenRecordKey(sjis), std::string(43, 'a') + "#" + md5Hex(sjis));

  SeenSet set;
  set.Insert(longA);
  set.Insert(common);
  ASSERT_EQ(set.Save(path_), 1);
  EXPECT_EQ(Bytes(), Record(storedA) + Record(common));
  SeenSet again;
  again.Load(path_);
  EXPECT_EQ(again.Lookup(longB), 0);
  EXPECT_EQ(again.Lookup(longA), 1);
  EXPECT_EQ(again.Lookup(common), 1);
}

TEST_F(SeenFile, DamagedRecordWithoutNulDoesNotOverrun) {
  std::string damaged(78, 'z');
  Put(damaged + "\r\n");
  SeenSet set;
  set.Load(path_);
  EXPECT_EQ(set.Lookup(damaged), 1);  // looked up the same way it was stored
  ASSERT_EQ(set.Save(path_), 1);
  EXPECT_EQ(Bytes(), Record(SeenRecordKey(damaged)));
}

TEST_F(SeenFile, ManyAscendingKeysRoundTrip) {
  // Ascending UIDLs, as Dovecot gives them: save, load and discard of a
  // large set, records in the order the keys came.
  constexpr int kKeys = 10000;
  SeenSet set;
  for (int i = 0; i < kKeys; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%08d", i);
    set.Insert(key);
  }
  ASSERT_EQ(set.Save(path_), 1);
  const std::string saved = Bytes();
  ASSERT_EQ(saved.size(), 80u * kKeys);
  EXPECT_EQ(saved.substr(80 * (kKeys - 1), 8), "00009999");
  SeenSet again;
  again.Load(path_);
  EXPECT_EQ(again.Lookup("00009999"), 1);
  EXPECT_EQ(again.Lookup("00000000"), 1);
  again.Discard();
  EXPECT_EQ(again.size(), 0u);
}

}  // namespace
}  // namespace zel
