// Mail in every charset and transfer encoding end to end: the corpus of
// charset_corpus.py (Python's email package) through zelRecvMailDummy and
// through zelRecvMailAll against the real Dovecot, checked by Python's own
// decoding and read by the part walker; DECODE 0 gives the classic
// decoder's file for every message.
//
// Natively the test writes and checks the corpus itself. The Windows build
// runs it under wine64 on a corpus a native CTest wrote
// ($ZEL_CHARSET_CORPUS), and another native CTest checks the display files
// it leaves there (against the Linux ones too, when they exist).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../../codec/decode_test_support.h"
#include "../../codec/memory_streams.h"
#include "codec/mail_file.h"
#include "codec/message_decoder.h"
#include "platform/path.h"
#include "recv_all_support.h"
#include "ui/host_part_files.h"
#include "zelpost.h"

namespace zel::e2e {
namespace {

namespace fs = std::filesystem;

using CharsetCorpus = RecvAllTest;

// Runs the corpus script with `arguments`; its output goes to `log`.
bool RunCorpusScript(const std::string& arguments, const std::string& log) {
  const std::string command = "/usr/bin/python3 '" ZEL_SOURCE_DIR "/tests/e2e/recv_all/charset_corpus.py' " +
                              arguments + " > '" + log + "' 2>&1";
  return std::system(command.c_str()) == 0;
}

// The classic decoder's display file of a raw message as POP3 hands it over
// (CR LF read as LF, as the text file reader does).
std::string ClassicDisplay(const std::string& pop) {
  test::MemorySource in(decode_test::AsText(pop));
  test::MemorySink out;
  MessageInfo info;
  EXPECT_EQ(decodeHeaderBlock(in, out, info), 1);
  EXPECT_EQ(decodeBodyText(in, out), 1);
  return out.text();
}

TEST_F(CharsetCorpus, DummyAndReceiveAllAsPythonDecodes) {
  const char* given = std::getenv("ZEL_CHARSET_CORPUS");
  std::string corpus = given != nullptr ? given : "";
  const bool own = corpus.empty();
#ifdef _WIN32
  if (own) GTEST_SKIP() << "the corpus comes from Python on the POSIX side (CTest charset_corpus_write)";
#endif
  if (own) {
    corpus = ZEL_BINARY_DIR "/charset-corpus";
    fs::remove_all(corpus);
    fs::create_directories(corpus);
    ASSERT_TRUE(RunCorpusScript("write '" + corpus + "'", dir_.File("write.log")))
        << ReadFileBytes(dir_.File("write.log"));
  }
  corpus = LocalPath(corpus);
  const std::string out = JoinPath(corpus, "out");
  fs::remove_all(out);
  fs::create_directories(out);
  std::vector<std::string> names;
  std::istringstream list(ReadFileBytes(JoinPath(corpus, "names.txt")));
  for (std::string name; std::getline(list, name);) {
    if (!name.empty()) names.push_back(name);
  }
  ASSERT_GT(names.size(), 160u);

  // Each message through zelRecvMailDummy; with DECODE 0 as the classic
  // decoder writes it.
  const std::string classic = dir_.File("classic.wml");
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string pop = JoinPath(corpus, name + ".pop");
    ASSERT_EQ(zelSetValueInt("DECODE", 0), 0);
    ASSERT_EQ(zelRecvMailDummy(classic.c_str(), pop.c_str()), 1);
    EXPECT_EQ(decode_test::AsText(ReadFileBytes(classic)), ClassicDisplay(ReadFileBytes(pop)));
    ASSERT_EQ(zelSetValueInt("DECODE", 1), 1);
    const std::string display = JoinPath(out, name + ".wml");
    ASSERT_EQ(zelRecvMailDummy(display.c_str(), pop.c_str()), 1);
    // The part walker reads the parts of the message (an HTML message has
    // its rendering beside it) and saves the binary attachment whole.
    HostPartFiles files;
    MailFile mail(files);
    ASSERT_TRUE(mail.open(display));
    EXPECT_EQ(mail.parse(), 0);
    mail.close();
    const bool mixed = name.ends_with("-mixed");
    EXPECT_EQ(mail.partCount(), mixed ? 3 : name.ends_with("-alternative") || name.ends_with("-html") ? 2 : 0);
    if (mixed) {
      const std::string saved = dir_.File("data.bin");
      ASSERT_EQ(mail.savePart(1, saved), 1);
      std::string bytes;
      for (int i = 0; i < 3 * 256; ++i) bytes += static_cast<char>(i % 256);
      EXPECT_EQ(ReadFileBytes(saved), bytes);
    }
  }
  EXPECT_EQ(zelGetValueInt("DECODE"), 1);

  // The same messages from the real Dovecot: the same display files.
  for (const std::string& name : names) DropMessage("alice", ReadFileBytes(JoinPath(corpus, name + ".eml")));
  const RunResult run = Run(false);
  ASSERT_EQ(run.result, static_cast<int>(names.size())) << run.errorText;
  for (std::size_t i = 0; i < names.size(); ++i) {
    char file[32];
    std::snprintf(file, sizeof file, "zel%05zu.wml", i + 1);
    EXPECT_EQ(ReadFileBytes(JoinPath(folder_, file)), ReadFileBytes(JoinPath(out, names[i] + ".wml"))) << names[i];
  }

  // Python's decoding of each message against its display file.
  if (own) {
    const std::string log = dir_.File("check.log");
    EXPECT_TRUE(RunCorpusScript("check '" + corpus + "' '" + out + "'", log)) << ReadFileBytes(log);
  }
}

}  // namespace
}  // namespace zel::e2e
