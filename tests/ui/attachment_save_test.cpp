// Saving attachments through the platform's files: the log entries of the
// part walker, and a 100 MB attachment saved with flat memory.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <fstream>
#include <string>

#include "../api/scratch.h"
#include "../codec/decode_test_support.h"
#include "codec/mail_file.h"
#include "platform/log.h"
#include "ui/host_part_files.h"

namespace zel::test {
namespace {

TEST(AttachmentSave, FailuresAreLoggedUnderMailFile) {
  ScratchDir dir;
  SetLogDirectory(dir.Path());
  const std::string mail = dir.File("m.wml");
  WriteBytes(mail,
             "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nt\r\n--b\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\nYWJj\r\n--b--\r\n");
  HostPartFiles files;
  MailFile m(files);
  ASSERT_TRUE(m.open(mail));
  EXPECT_EQ(m.parse(), 0);
  m.close();
  EXPECT_EQ(m.savePart(1, dir.File("a.bin")), 1);
  EXPECT_EQ(ReadBytes(dir.File("a.bin")), "abc");
  const std::string missing = dir.File("no/such/a.bin");
  EXPECT_EQ(m.savePart(1, missing), 0);
  std::remove(mail.c_str());
  EXPECT_EQ(m.savePart(1, dir.File("b.bin")), 0);
  const auto lines = LogLines(dir.File("zelpost.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" MailFile.cpp 559 添付ファイルがオープンできない " + missing), std::string::npos);
  EXPECT_NE(lines[1].find(" MailFile.cpp 554 メールファイルがオープンできない " + mail), std::string::npos);
  SetLogDirectory("/tmp");
}

// A message of Python's email package whose 100 MB attachment is written as
// it is encoded; the file with the SHA-256 of the attachment beside it.
constexpr std::u8string_view kBigWriter = u8R"py(
import hashlib, random, sys, base64
from email import policy
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.mime.application import MIMEApplication
m = MIMEMultipart('mixed', boundary='big')
m.attach(MIMEText('t\n', 'plain', 'us-ascii'))
a = MIMEApplication(b'@', 'octet-stream')
a.add_header('Content-Disposition', 'attachment', filename='big.bin')
m.attach(a)
head, tail = m.as_bytes(policy=policy.compat32.clone(linesep='\r\n')).split(b'QA==\r\n')
rnd, digest = random.Random(3), hashlib.sha256()
with open(sys.argv[1] + '/big.wml', 'wb') as f:
    f.write(head)
    for _ in range(1600):  # blocks of 1,150 lines of 57 bytes: 105 MB
        block = rnd.randbytes(57 * 1150)
        digest.update(block)
        f.write(base64.encodebytes(block).replace(b'\n', b'\r\n'))
    f.write(tail)
open(sys.argv[1] + '/big.sha256', 'w').write(digest.hexdigest())
)py";

TEST(AttachmentSave, HundredMegabytesWithFlatMemory) {
#if defined(_WIN32)
  GTEST_SKIP() << "the Python message writer runs with the native Linux build only";
#elif defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "one thread, and ThreadSanitizer's shadow memory hides the peak to measure";
#else
  ScratchDir dir;
  ASSERT_TRUE(decode_test::RunPython(dir.Path(), decode_test::Utf8(kBigWriter)));
  HostPartFiles files;
  MailFile m(files);
  ASSERT_TRUE(m.open(dir.File("big.wml")));
  EXPECT_EQ(m.parse(), 0);
  m.close();
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  ASSERT_EQ(m.savePart(1, dir.File("big.bin")), 1);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 * 1024) << "peak RSS grew (KiB)";
  const std::string check = "/usr/bin/python3 -c \"import hashlib,sys; sys.exit(hashlib.sha256(open(sys.argv[1],'rb')"
                            ".read()).hexdigest() != open(sys.argv[2]).read())\" '" +
                            dir.File("big.bin") + "' '" + dir.File("big.sha256") + "'";
  EXPECT_EQ(std::system(check.c_str()), 0);
#endif
}

}  // namespace
}  // namespace zel::test
