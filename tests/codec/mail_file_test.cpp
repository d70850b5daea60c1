// MIME part walker: the part tree of display files, parameter values, file
// names made safe, nesting and width limits, and the saving of parts
// (base64, BinHex, raw) over in-memory files.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "codec/binhex.h"
#include "codec/mail_file.h"
#include "memory_part_files.h"

namespace zel {
namespace {

using test::MemoryPartFiles;

// Display file text: every "\n" becomes CR LF.
std::string Crlf(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// A saved text file: every "\n" the system's own line end.
std::string Nl(std::string_view text) {
#ifdef _WIN32
  return Crlf(text);
#else
  return std::string(text);
#endif
}

// A multipart/mixed display file with boundary "b" holding `parts` (each a
// part's header lines, an empty line and its body), closed unless `open`.
std::string Mixed(const std::vector<std::string>& parts, bool open = false) {
  std::string text = "Subject: t\nContent-Type: multipart/mixed; boundary=\"b\"\n\npreamble\n";
  for (const std::string& p : parts) text += "--b\n" + p;
  if (!open) text += "--b--\nepilogue\n";
  return Crlf(text);
}

struct Parsed {
  MemoryPartFiles files;
  MailFile mail{files};
  int result = -2;
  explicit Parsed(const std::string& display) {
    files.files["m.wml"] = display;
    EXPECT_TRUE(mail.open("m.wml"));
    result = mail.parse();
    mail.close();
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    char buffer[kPathSize];
    for (int i = 0; i < mail.partCount(); ++i) out.push_back(mail.partFileName(i, buffer));
    return out;
  }
};

TEST(MailFile, PartTreesAndFileNames) {
  std::string wide;
  for (int i = 0; i < 150; ++i) wide += "あ";  // 300 bytes
  struct Case {
    const char* what;
    std::string display;
    int result;
    std::vector<std::string> names;
  } cases[] = {
      {"single part", Crlf("Subject: x\n\nbody\n"), 0, {}},
      {"text and two attachments, one name an encoded word",
       Mixed({"Content-Type: text/plain\n\nhello\n",
              "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"a b.txt\"\n\nx\n",
              "Content-Type: application/octet-stream\nContent-Disposition: attachment;\n"
              "\tfilename=\"=?ISO-2022-JP?B?GyRCRTpJVRsoQi50eHQ=?=\"\n\ny\n"}),
       0,
       {"", "a b.txt", "添付.txt"}},
      {"alternative nested in mixed is one top-level part",
       Mixed({"Content-Type: multipart/alternative; boundary=\"in\"\n\n--in\nContent-Type: text/plain\n\nt\n"
              "--in\nContent-Type: text/html\n\n<p>t</p>\n--in--\n",
              "Content-Type: image/png\nContent-Disposition: attachment; filename=b.png\n\nz\n"}),
       0,
       {"", "b.png"}},
      {"missing closing delimiter keeps the parts read",
       Mixed({"Content-Type: text/plain\n\nt\n", "Content-Disposition: attachment; filename=c.txt\n\nc\n"}, true),
       -1,
       {"", "c.txt"}},
      {"path components are dropped, Shift-JIS aware",
       Mixed({"Content-Disposition: attachment; filename=\"..\\..\\Startup\\x.exe\"\n\n1\n",
              "Content-Disposition: attachment; filename=\"/etc/passwd\"\n\n2\n",
              "Content-Disposition: attachment; filename=\"表\\表.txt\"\n\n3\n",
              "Content-Disposition: attachment; filename=\"..\"\n\n4\n"}),
       0,
       {"x.exe", "passwd", "表.txt", ""}},
      {"Windows device names get a leading _, trailing dots and blanks go",
       Mixed({"Content-Disposition: attachment; filename=CON\n\n1\n",
              "Content-Disposition: attachment; filename=\"aux.txt\"\n\n2\n",
              "Content-Disposition: attachment; filename=\"nul.tar.gz\"\n\n3\n",
              "Content-Disposition: attachment; filename=\"Lpt1 .c\"\n\n4\n",
              "Content-Disposition: attachment; filename=\"a.txt. .\"\n\n5\n",
              "Content-Disposition: attachment; filename=\"com10.txt\"\n\n6\n",
              "Content-Disposition: attachment; filename=\"console.txt\"\n\n7\n",
              "Content-Disposition: attachment; filename=\"prn...\"\n\n8\n"}),
       0,
       {"_CON", "_aux.txt", "_nul.tar.gz", "_Lpt1 .c", "a.txt", "com10.txt", "console.txt", "_prn"}},
      {"long names are cut to 259 bytes at a character boundary",
       Mixed({"Content-Disposition: attachment; filename=\"" + wide + "\"\n\n1\n"}), 0, {wide.substr(0, 258)}},
      {"unquoted boundary after another parameter, folded",
       Crlf("Content-Type: multipart/mixed; x=y;\n\tboundary=q\n\n--q\n\nt\n--q\n\nu\n--q--\n"), 0, {"", ""}},
      {"boundary text inside a long line is no delimiter",
       Mixed({"\n" + std::string(1023, 'a') + "--b\nmore\n"}), 0, {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Parsed p(c.display);
    EXPECT_EQ(p.result, c.result);
    EXPECT_EQ(p.names(), c.names);
    char buffer[kPathSize];
    EXPECT_EQ(p.mail.partFileName(p.mail.partCount(), buffer), nullptr);
    EXPECT_EQ(p.mail.partFileName(-1, buffer), nullptr);
  }
}

TEST(MailFile, FieldsAndOffsetsOfAPart) {
  const std::string head = Crlf("Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n");
  const std::string part = Crlf(
      "Content-Type: Text/Plain; charset=ISO-2022-JP\nContent-ID: <part1>\n"
      "Content-Transfer-Encoding: BASE64\nContent-Disposition: inline\n\nYWJj\n");
  Parsed p(head + part + Crlf("--b--\n"));
  ASSERT_EQ(p.mail.partCount(), 1);
  const MailFile& m = *p.mail.firstChild();
  EXPECT_EQ(m.type, "text");
  EXPECT_EQ(m.subtype, "plain");
  EXPECT_EQ(m.charset, "iso-2022-jp");
  EXPECT_EQ(m.contentId, "part1");
  EXPECT_EQ(m.transferEncoding, "BASE64");
  EXPECT_EQ(m.fileName, "");
  EXPECT_EQ(m.enclosingBoundary, "b");
  EXPECT_EQ(m.start, static_cast<std::int64_t>(head.size()));
  EXPECT_EQ(m.bodyStart, static_cast<std::int64_t>(head.size() + part.size() - 6));
  EXPECT_EQ(m.end, static_cast<std::int64_t>(head.size() + part.size()));
  EXPECT_EQ(p.mail.boundary, "b");
}

TEST(MailFile, ParamValues) {
  const struct {
    const char* text;
    std::optional<std::string> value;
  } cases[] = {
      {"Content-Transfer-Encoding:base64", "base64"},
      {"Content-ID:<part1>", "part1"},
      {"filename=\"a b.txt\";x=y", "a b.txt"},
      {"x=(comment)", "comment"},
      {"x=[v]", "v"},
      {"boundary=abc;charset=x", "abc"},
      {"x=\"unterminated", "unterminated"},
      {"x=", ""},
      {"=value", std::nullopt},
      {"noname", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(readParamValue(c.text), c.value) << c.text;
}

TEST(MailFile, DeepNestingAndManySiblingsStayWithinTheStack) {
  // 1,000 nested multiparts: parts deeper than the limit are leaves.
  std::string nested = "Content-Type: multipart/mixed; boundary=\"b0000\"\n\n";
  for (int i = 0; i < 1000; ++i) {
    char b[8];
    std::snprintf(b, sizeof b, "b%04d", i);
    char inner[8];
    std::snprintf(inner, sizeof inner, "b%04d", i + 1);
    nested += std::string("--") + b + "\nContent-Type: multipart/mixed; boundary=\"" + inner + "\"\n\n";
  }
  nested += "core\n";
  for (int i = 1000; i >= 0; --i) {
    char b[8];
    std::snprintf(b, sizeof b, "b%04d", i);
    nested += std::string("--") + b + "--\n";
  }
  {
    Parsed p(Crlf(nested));
    EXPECT_EQ(p.result, 0);
    int depth = 0;
    for (const MailFile* m = &p.mail; m->firstChild() != nullptr; m = m->firstChild()) ++depth;
    EXPECT_EQ(depth, kMaxPartDepth);
  }
  // 50,000 siblings.
  std::string wide = "Content-Type: multipart/mixed; boundary=\"s\"\n\n";
  for (int i = 0; i < 50000; ++i) wide += "--s\n\nx\n";
  wide += "--s--\n";
  Parsed p(Crlf(wide));
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.mail.partCount(), 50000);
}

// Random bytes of a fixed seed.
std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

// `bytes` in base64, `width` characters per line (0: one line).
std::string Base64Lines(const std::string& bytes, std::size_t width) {
  std::string text(base64EncodedSize(bytes.size()) + 1, '\0');
  text.resize(base64Encode(bytes.data(), bytes.size(), text.data()));
  if (width == 0) return text + "\n";
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += width) out += text.substr(i, width) + "\n";
  return out;
}

TEST(MailFile, SavedPartsAreDecodedOrCopied) {
  const std::string data = RandomBytes(30001, 7);  // the last group is padded
  // BinHex text: the alphabet over and over, in lines of 64 and one of 3,000.
  const std::string alphabet = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
  std::string hqx;
  for (int i = 0; i < 80; ++i) hqx += alphabet;
  const std::string hqxLines = hqx.substr(0, 64) + "\n" + hqx.substr(64, 3000) + "\n" + hqx.substr(3064) + "\n";
  std::string hqxBytes(binhexDecodedBound(hqx.size()), '\0');
  hqxBytes.resize(binhexDecode(hqx.data(), hqx.size(), hqxBytes.data()));
  std::string oddLine(1022, 'Q');  // 1,022 characters, CR LF split over two reads
  std::string oddBytes(base64DecodedBound(oddLine.size()), '\0');
  oddBytes.resize(base64DecodeLine(oddLine.data(), oddLine.size(), oddBytes.data()));
  const struct {
    const char* what;
    std::string part;
    std::string saved;
  } cases[] = {
      {"base64, 76 characters", "Content-Transfer-Encoding: base64\n\n" + Base64Lines(data, 76), data},
      {"base64, 72 characters, capitals", "Content-Transfer-Encoding: BASE64\n\n" + Base64Lines(data, 72), data},
      {"base64, one line of 40,000 characters", "Content-Transfer-Encoding: base64\n\n" + Base64Lines(data, 0), data},
      {"base64, CR LF split between reads", "Content-Transfer-Encoding: base64\n\n" + oddLine + "\n", oddBytes},
      {"base64 stops at an empty line", "Content-Transfer-Encoding: base64\n\nYWJj\n\nYWJj\n", "abc"},
      // Text parts come out as their sender's file: decoded, each line end
      // the system's own, the delimiter's line end left out.
      {"quoted-printable is decoded", "Content-Transfer-Encoding: quoted-printable\n\na=3D1=\nb\n\n", Nl("a=1b\n")},
      {"quoted-printable CR LF kept", "Content-Transfer-Encoding: quoted-printable\n\na=0D\nb=0D\n\n", "a\r\nb\r\n"},
      {"quoted-printable without a last line end", "Content-Transfer-Encoding: Quoted-Printable\n\nend=\n\n", "end"},
      {"7bit lines", "Content-Type: text/plain\n\none\n\ntwo\n", Nl("one\n\ntwo")},
      {"8bit UTF-8", "Content-Transfer-Encoding: 8bit\n\n\xE6\x97\xA5\n\n", Nl("\xE6\x97\xA5\n")},
      {"ISO-2022-JP back from Shift-JIS", "Content-Type: text/plain; charset=ISO-2022-JP\n\n\x93\xfa\x96\x7b\n\n",
       Nl("\x1b$BF|K\\\x1b(B\n")},
      {"uuencode is copied", "Content-Transfer-Encoding: x-uuencode\n\nbegin 644 a\n", Crlf("begin 644 a\n")},
      {"BinHex from the opening to the closing colon",
       "Content-Type: application/mac-binhex40\n\n(This file must be converted with BinHex 4.0)\n\n:" + hqxLines +
           ":\ntrailer\n",
       hqxBytes},
      {"nested multipart saved raw",
       "Content-Type: multipart/alternative; boundary=in\n\n--in\n\nt\n--in--\n",
       Crlf("--in\n\nt\n--in--\n")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Parsed p(Mixed({"\ntext\n", c.part}));
    ASSERT_EQ(p.mail.partCount(), 2);
    EXPECT_EQ(p.mail.savePart(1, "out.bin"), 1);
    EXPECT_EQ(p.files.files["out.bin"], c.saved);
    EXPECT_TRUE(p.files.logEntries.empty());
  }
}

TEST(MailFile, SaveFailuresAreLogged) {
  Parsed p(Mixed({"\ntext\n", "\nattachment\n"}, true));
  ASSERT_EQ(p.mail.partCount(), 2);
  EXPECT_EQ(p.mail.savePart(1, "last.bin"), 1);  // the open last part runs to the end
  EXPECT_EQ(p.files.files["last.bin"], "attachment");
  EXPECT_EQ(p.mail.savePart(2, "none.bin"), 0);
  EXPECT_EQ(p.files.files.count("none.bin"), 0u);
  EXPECT_EQ(p.mail.savePart(1, "?"), 0);
  p.files.failWritesAfter = 3;
  EXPECT_EQ(p.mail.savePart(1, "full.bin"), 0);
  p.files.files.erase("m.wml");
  EXPECT_EQ(p.mail.savePart(1, "x.bin"), 0);
  ASSERT_EQ(p.files.logEntries.size(), 3u);
  EXPECT_EQ(p.files.logEntries[0], std::make_pair(559, std::string("添付ファイルがオープンできない ?")));
  EXPECT_EQ(p.files.logEntries[1].second, "添付ファイルの書き込みに失敗 full.bin");
  EXPECT_EQ(p.files.logEntries[2], std::make_pair(554, std::string("メールファイルがオープンできない m.wml")));
}

}  // namespace
}  // namespace zel
