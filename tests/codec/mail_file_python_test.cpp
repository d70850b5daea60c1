// MIME part walker on messages written by Python's email package (an
// independent writer): every top-level part saved is compared byte for byte
// with what Python decodes (base64, BinHex text it was given) or with the
// part's body as Python wrote it (nested multiparts).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "codec/mail_file.h"
#include "decode_test_support.h"
#include "memory_part_files.h"

namespace zel {
namespace {

// Writes the messages and, per top-level part, a line of the manifest:
// message, part index, file of the expected bytes, expected file name
// (Shift-JIS), parse result, number of top-level parts (TAB separated).
constexpr std::u8string_view kWriter = u8R"py(
import os, sys, random, base64
from email import policy, encoders
from email.header import Header
from email.mime.application import MIMEApplication
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

out = sys.argv[1]
rnd = random.Random(5)
manifest = []
CRLF = policy.compat32.clone(linesep='\r\n')

def save(name, msg, expected, cut_close=False):
    data = msg.as_bytes(policy=CRLF)
    result = 0
    if cut_close:
        data = data[:data.rindex(b'--' + msg.get_boundary().encode() + b'--')]
        result = -1
    open(os.path.join(out, name), 'wb').write(data)
    for index, (payload, filename) in enumerate(expected):
        if payload is None:
            continue
        ename = '%s.%d' % (name, index)
        open(os.path.join(out, ename), 'wb').write(payload)
        manifest.append(b'\t'.join([name.encode(), str(index).encode(), ename.encode(),
                                    filename.encode('cp932'), str(result).encode(),
                                    str(len(expected)).encode()]))

def attachment(data, filename):
    part = MIMEApplication(data, 'octet-stream')
    part.add_header('Content-Disposition', 'attachment', filename=filename)
    return part

def raw_body(part):
    # What follows the part's header up to the next delimiter line.
    return part.as_bytes(policy=CRLF).split(b'\r\n\r\n', 1)[1] + b'\r\n'

# Base64 attachments of many sizes (76-character lines).
m = MIMEMultipart('mixed', boundary='sizes')
m.attach(MIMEText('本文\n', 'plain', 'iso-2022-jp'))
expected = [(None, '')]
for n in (0, 1, 2, 3, 53, 54, 55, 57, 76, 1000, 4096, 65537, 300000):
    part = attachment(rnd.randbytes(n), 's%d.bin' % n)
    m.attach(part)
    expected.append((part.get_payload(decode=True), 's%d.bin' % n))
save('sizes.eml', m, expected)

# Nested multiparts, quoted-printable, a Japanese file name.
alt = MIMEMultipart('alternative', boundary='alt')
alt.attach(MIMEText('text\n', 'plain', 'us-ascii'))
alt.attach(MIMEText('<p>text</p>\n', 'html', 'us-ascii'))
inner = MIMEMultipart('mixed', boundary='inner')
inner.attach(attachment(b'inside', 'inner.bin'))
qp = MIMEText('caf\u00e9 = 1\n' + 'x' * 100 + '\n', 'plain', 'utf-8')
del qp['Content-Transfer-Encoding']
encoders.encode_quopri(qp)
jp = attachment(rnd.randbytes(999), Header('添付ファイル.bin', 'iso-2022-jp').encode())
m = MIMEMultipart('mixed', boundary='outer')
for part in (alt, inner, qp, jp):
    m.attach(part)
m.as_bytes(policy=CRLF)
save('nested.eml', m, [(raw_body(alt), ''), (raw_body(inner), ''), (qp.get_payload(decode=True), ''),
                       (jp.get_payload(decode=True), '添付ファイル.bin')])

# BinHex 4.0 text (six-bit code only) of random bytes, 64 characters a line.
HQX = b'!"#$%&\'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr'
def hqx(data):
    bits, nbits = int.from_bytes(data, 'big'), len(data) * 8
    pad = (-nbits) % 6
    count = (nbits + pad) // 6
    bits <<= pad
    chars = bytes(HQX[(bits >> (6 * (count - 1 - i))) & 63] for i in range(count))
    lines = [chars[i:i + 64].decode() for i in range(0, len(chars), 64)]
    return '(This file must be converted with BinHex 4.0)\n\n:' + '\n'.join(lines) + ':\n'
data = rnd.randbytes(5000)
h = MIMEBase('application', 'mac-binhex40')
h.set_payload(hqx(data))
h['Content-Transfer-Encoding'] = '7bit'
h.add_header('Content-Disposition', 'attachment', filename='data.hqx')
m = MIMEMultipart('mixed', boundary='hqx')
m.attach(MIMEText('see attachment\n', 'plain', 'us-ascii'))
m.attach(h)
save('binhex.eml', m, [(None, ''), (data, 'data.hqx')])

# Base64 without line breaks (one line far longer than one read).
data = rnd.randbytes(30001)
b = MIMEBase('application', 'octet-stream')
b.set_payload(base64.b64encode(data).decode())
b['Content-Transfer-Encoding'] = 'base64'
b.add_header('Content-Disposition', 'attachment', filename='long.bin')
m = MIMEMultipart('mixed', boundary='long')
m.attach(b)
save('longline.eml', m, [(data, 'long.bin')])

# No closing delimiter: the parts read stay and save.
m = MIMEMultipart('mixed', boundary='open')
m.attach(MIMEText('t\n', 'plain', 'us-ascii'))
part = attachment(rnd.randbytes(4000), 'last.bin')
m.attach(part)
save('open.eml', m, [(None, ''), (part.get_payload(decode=True), 'last.bin')], cut_close=True)

open(os.path.join(out, 'manifest'), 'wb').write(b'\n'.join(manifest) + b'\n')
)py";

TEST(MailFilePython, SavedPartsEqualWhatPythonWrote) {
#ifdef _WIN32
  GTEST_SKIP() << "the Python message writer runs with the native Linux build only";
#endif
  const auto dir = decode_test::FreshFolder("zel-mailfile");
  ASSERT_TRUE(decode_test::RunPython(dir, decode_test::Utf8(kWriter)));
  std::istringstream manifest(decode_test::ReadAll(dir / "manifest"));
  std::string line;
  int checked = 0;
  while (std::getline(manifest, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    ASSERT_EQ(f.size(), 6u) << line;
    SCOPED_TRACE(f[0] + " part " + f[1]);
    test::MemoryPartFiles files;
    files.files["m.wml"] = decode_test::ReadAll(dir / f[0]);
    MailFile mail(files);
    ASSERT_TRUE(mail.open("m.wml"));
    EXPECT_EQ(mail.parse(), std::stoi(f[4]));
    mail.close();
    EXPECT_EQ(mail.partCount(), std::stoi(f[5]));
    const int index = std::stoi(f[1]);
    char name[kPathSize];
    ASSERT_NE(mail.partFileName(index, name), nullptr);
    EXPECT_EQ(std::string(name), f[3]);
    EXPECT_EQ(mail.savePart(index, "saved"), 1);
    EXPECT_TRUE(files.files["saved"] == decode_test::ReadAll(dir / f[2]));
    ++checked;
  }
  EXPECT_EQ(checked, 13 + 4 + 1 + 1 + 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zel
