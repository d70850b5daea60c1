#include "platform/text_file.h"

#include <algorithm>
#include <string>
#include <vector>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <gtest/gtest.h>

#include "scratch_dir.h"

namespace zel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

std::vector<std::string> ReadLines(const std::string& path, std::size_t size, bool text = true) {
  TextFile f;
  EXPECT_TRUE(f.Open(path, text ? TextFile::Mode::kRead : TextFile::Mode::kReadBinary));
  std::vector<std::string> lines;
  std::vector<char> buf(size);
  std::size_t n = 0;
  while (f.GetLine(buf.data(), size, &n) != nullptr) lines.emplace_back(buf.data(), n);
  EXPECT_TRUE(f.AtEnd());
  EXPECT_TRUE(f.Close());
  return lines;
}

TEST(TextFile, WriteStoresCrLfAndKeepsOtherBytes) {
  ScratchDir dir;
  TextFile f;
  ASSERT_TRUE(f.Open(dir.File("a.txt"), TextFile::Mode::kWrite));
  EXPECT_TRUE(f.Write("one\ntwo\x1A\r\n"));
  EXPECT_TRUE(f.Printf("%s=%d\n", "n", 5));
  ASSERT_TRUE(f.Close());
  // An explicit CR before LF stays and gains a second CR, as C text mode does.
  EXPECT_EQ(ReadBytes(dir.File("a.txt")), std::string("one\r\ntwo\x1A\r\r\nn=5\r\n"));
}

TEST(TextFile, ReadTranslatesCrLfOnlyAndKeeps1A) {
  ScratchDir dir;
  WriteBytes(dir.File("a.txt"), std::string("a\r\nb\x1A" "c\rd\r\r\nlast"));
  const auto lines = ReadLines(dir.File("a.txt"), 1024);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "a\n");
  EXPECT_EQ(lines[1], std::string("b\x1A" "c\rd\r\n"));
  EXPECT_EQ(lines[2], "last");
}

TEST(TextFile, LineLimitCountsTranslatedBytesAndSplitsLongLines) {
  ScratchDir dir;
  WriteBytes(dir.File("a.txt"), "abc\r\nabcdef\r\n");
  // "abc\n" is 4 bytes after translation: it fits a 5-byte buffer whole.
  auto lines = ReadLines(dir.File("a.txt"), 5);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "abc\n");
  EXPECT_EQ(lines[1], "abcd");
  EXPECT_EQ(lines[2], "ef\n");
  lines = ReadLines(dir.File("a.txt"), 4);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "abc");
  EXPECT_EQ(lines[1], "\n");
}

TEST(TextFile, CrLfAcrossTheReadBufferBoundaryIsOneLineEnd) {
  ScratchDir dir;
  const std::size_t kBuffer = 64 * 1024;
  std::string bytes(kBuffer - 1, 'x');
  bytes += "\r\nnext\r\n";
  WriteBytes(dir.File("a.txt"), bytes);
  const auto lines = ReadLines(dir.File("a.txt"), kBuffer + 8);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), kBuffer);
  EXPECT_EQ(lines[0].back(), '\n');
  EXPECT_EQ(lines[1], "next\n");
}

// Reads and line reads of every size agree with a byte-by-byte reading of
// text mode, across read-buffer boundaries.
TEST(TextFile, ReadsAgreeWithByteByByteTranslation) {
  ScratchDir dir;
  std::string bytes;
  unsigned seed = 7;
  for (int i = 0; i < 150000; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes += "ab\r\n\x1A"[(seed >> 16) % 5];
  }
  WriteBytes(dir.File("a.txt"), bytes);
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool crlf = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
    text += crlf ? '\n' : bytes[i];
    if (crlf) ++i;
  }
  for (std::size_t size : {2u, 3u, 7u, 100u, 70000u}) {
    std::string joined;
    for (const auto& line : ReadLines(dir.File("a.txt"), size)) {
      EXPECT_LE(line.size(), size - 1);
      EXPECT_TRUE(line.find('\n') == std::string::npos || line.find('\n') == line.size() - 1);
      joined += line;
    }
    EXPECT_TRUE(joined == text) << size;
    TextFile f;
    ASSERT_TRUE(f.Open(dir.File("a.txt"), TextFile::Mode::kRead));
    std::string read(text.size() + 1, '\0');
    std::size_t got = 0;
    while (std::size_t n = f.Read(&read[got], std::min(size, read.size() - got))) got += n;
    read.resize(got);
    EXPECT_TRUE(read == text) << size;
  }
  // Writing the text back, in pieces of any size, stores each LF as CR LF.
  std::string stored;
  for (char c : text) stored += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (std::size_t piece : {1u, 3000u, 1000000u}) {
    TextFile f;
    ASSERT_TRUE(f.Open(dir.File("b.txt"), TextFile::Mode::kWrite));
    for (std::size_t at = 0; at < text.size(); at += piece) {
      ASSERT_TRUE(f.Write(std::string_view(text).substr(at, piece)));
    }
    ASSERT_TRUE(f.Close());
    EXPECT_TRUE(ReadBytes(dir.File("b.txt")) == stored) << piece;
  }
}

TEST(TextFile, NulBytesInsideALineAreKept) {
  ScratchDir dir;
  WriteBytes(dir.File("a.txt"), std::string("a\0b\r\n", 5));
  const auto lines = ReadLines(dir.File("a.txt"), 16);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string("a\0b\n", 4));
}

TEST(TextFile, BinaryModePassesBytesUnchanged) {
  ScratchDir dir;
  const std::string bytes("x\r\ny\n\x1A\r", 8);
  TextFile f;
  ASSERT_TRUE(f.Open(dir.File("b.bin"), TextFile::Mode::kWriteBinary));
  ASSERT_TRUE(f.Write(bytes));
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(ReadBytes(dir.File("b.bin")), bytes);
  ASSERT_TRUE(f.Open(dir.File("b.bin"), TextFile::Mode::kReadBinary));
  char buf[16];
  EXPECT_EQ(f.Read(buf, sizeof buf), bytes.size());
  EXPECT_EQ(std::string(buf, bytes.size()), bytes);
  EXPECT_TRUE(f.Close());
}

TEST(TextFile, AppendAddsAtTheEnd) {
  ScratchDir dir;
  WriteBytes(dir.File("a.txt"), "x\r\n");
  TextFile f;
  ASSERT_TRUE(f.Open(dir.File("a.txt"), TextFile::Mode::kAppend));
  ASSERT_TRUE(f.Write("y\n"));
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(ReadBytes(dir.File("a.txt")), "x\r\ny\r\n");
}

TEST(TextFile, TinyBuffersAndMissingFilesFail) {
  ScratchDir dir;
  TextFile f;
  EXPECT_FALSE(f.Open(dir.File("missing.txt"), TextFile::Mode::kRead));
  EXPECT_FALSE(f.Open(dir.Path(), TextFile::Mode::kRead));  // a directory
  WriteBytes(dir.File("a.txt"), "abc\r\n");
  ASSERT_TRUE(f.Open(dir.File("a.txt"), TextFile::Mode::kRead));
  char one[1] = {'x'};
  EXPECT_EQ(f.GetLine(one, 1), nullptr);
  EXPECT_EQ(one[0], '\0');
  EXPECT_TRUE(f.Close());
  EXPECT_TRUE(f.Close());  // closing twice is harmless
}

TEST(TextFile, WriteToAClosedFileReportsFailure) {
  TextFile f;
  EXPECT_FALSE(f.Write("x"));
  EXPECT_TRUE(f.Failed());
}

#ifndef _WIN32
// A file may not grow beyond 100 KB (RLIMIT_FSIZE): a full disk for it.
// (/dev/full is a device, which is never written.)
TEST(TextFile, FullDiskIsReportedByClose) {
  ScratchDir dir;
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead
  rlimit small = saved;
  small.rlim_cur = 100000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  TextFile f;
  const bool opened = f.Open(dir.File("full"), TextFile::Mode::kWrite);
  std::string block(1 << 16, 'x');
  bool all = true;
  for (int i = 0; i < 4; ++i) all = f.Write(block) && all;
  // The loss shows at the latest when the buffer is flushed.
  const bool closed = f.Close();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  ASSERT_TRUE(opened);
  EXPECT_FALSE(all && closed);
}
#endif

}  // namespace
}  // namespace zel
