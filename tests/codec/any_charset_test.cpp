// Decoding in any charset, the cases no mail writer produces on purpose:
// one table of raw messages and what their display files hold, one of the
// text helpers (HTML rendering, MIME parameters).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/html_text.h"
#include "codec/message_decoder.h"
#include "codec/mime_params.h"
#include "memory_streams.h"

namespace zel {
namespace {

std::string DisplayInAnyCharset(const std::string& raw) {
  test::MemorySource in(raw);
  test::MemorySink out;
  MessageInfo info;
  MessageDecoder decoder(DecodeMode::kAnyCharset);
  EXPECT_EQ(decoder.decodeHeader(in, out, info), 1);
  EXPECT_EQ(decoder.decodeBody(in, out), 1);
  return out.text();
}

constexpr const char* kUtf8Base64 = "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n";

TEST(AnyCharset, DisplayFiles) {
  const struct {
    const char* name;
    std::string raw;
    std::vector<std::string> holds;  // in this order
  } rows[] = {
      {"quoted-printable: soft breaks, hex in either case, a bare = kept",
       "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
       "a=\nb=3d=3D=zz= \t\nc=E6=97=a5\n",
       {"X-Content-Transfer-Encoding: quoted-printable\nContent-Transfer-Encoding: 8bit\n\nab===zzc日\n"}},
      {"base64: blanks skipped, the pad ends the data",
       std::string(kUtf8Base64) + "\n5pel 5pys\n6Kqe\nCg==\nZ2FyYmFnZQ==\n", {"\n\n日本語\n"}},
      {"a decoded line that would be a delimiter gets a blank",
       "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n" + std::string(kUtf8Base64) +
           "\nYQotLWIKLS1iLS0K\n--b--\n",
       {"\na\n --b\n --b--\n--b--\n"}},
      {"nested alternative: both parts decoded, the HTML not rendered",
       "Content-Type: multipart/mixed; boundary=\"o\"\n\n--o\n"
       "Content-Type: multipart/alternative; boundary=\"i\"\n\n--i\n" + std::string(kUtf8Base64) +
           "\n5pel\n--i\nContent-Type: text/html; charset=utf-8\n\n<p>&#x65E5;</p>\n--i--\n\n--o\n"
           "Content-Type: text/plain; charset=utf-8; name=\"a.txt\"\nContent-Transfer-Encoding: base64\n\n5pel\n--o--\n",
       {"\n\n日\n--i\n", "charset=Shift_JIS\n\n<p>&#x65E5;</p>\n--i--\n", "name=\"a.txt\"\nContent-Transfer-Encoding: base64\n\n5pel\n"}},
      {"HTML before any text in a multipart: the rendering goes in front",
       "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/html; charset=utf-8\n\n"
       "<p>x</p>\n--b\nContent-Type: application/octet-stream\n\nAA==\n--b--\n",
       {"--b\nContent-Type: text/plain; charset=Shift_JIS\nContent-Transfer-Encoding: 8bit\n\nx\n--b\n"
        "X-Content-Type: text/html; charset=utf-8\nContent-Type: text/html; charset=Shift_JIS\n\n<p>x</p>\n--b\n"}},
      {"a header field folded with a tab is copied whole",
       "Content-Type: text/plain;\n\tcharset=\"utf-8\"\n\n\xE6\x97\xA5\n",
       {"X-Content-Type: text/plain;\n\tcharset=\"utf-8\"\nContent-Type: text/plain; charset=Shift_JIS\n\n日\n"}},
      {"a word split inside a character, an unknown one and an ISO-2022-JP Q word",
       "Subject: =?UTF-8?B?5g==?= =?UTF-8?B?l6U=?= =?x-none?Q?a_b?= =?ISO-2022-JP?Q?=1B$BF|=1B(B_x?=\n\n",
       {"Subject: 日a_b日 x\n"}},
      {"raw UTF-8 in a header is converted, raw Shift-JIS kept",
       "Subject: \xE6\x97\xA5 x\nFrom: \x93\xFA\n\n", {"\nSubject: 日 x\nFrom: 日\n"}},
      // No MIME fields at all: the body's charset is guessed as the header's.
      {"header-less UTF-8 body", "Subject: x\n\n\xE6\x97\xA5\xE6\x9C\xAC\nabc\n", {"\n\n日本\nabc\n"}},
      {"header-less EUC-JP body and header", "Subject: \xC6\xFC\xCB\xDC\n\n\xC6\xFC\xCB\xDC\n",
       {"Subject: 日本\n", "\n\n日本\n"}},
      {"header-less Shift-JIS body kept", "Subject: x\n\n\x93\xFA\x96\x7B\xB1\n", {"\n\n\x93\xFA\x96\x7B\xB1\n"}},
      {"header-less ISO-2022-JP body", "Subject: x\n\n\x1B$BF|K\\\x1B(B\n", {"\n\n日本\n"}},
      {"MIME-Version without Content-Type: as it stands", "MIME-Version: 1.0\n\n\xE6\x97\xA5\n",
       {"\n\n\xE6\x97\xA5\n"}},
      {"a multipart without its closing delimiter ends with its last part",
       "Content-Type: multipart/mixed; boundary=b\n\n--b\n" + std::string(kUtf8Base64) + "\n5pel",
       {"8bit\n\n日\n"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string display = DisplayInAnyCharset(row.raw);
    std::size_t at = 0;
    for (const std::string& piece : row.holds) {
      at = display.find(piece, at);
      EXPECT_NE(at, std::string::npos) << piece << "\nin\n" << display;
    }
  }
}

TEST(AnyCharset, TextHelpers) {
  const struct {
    const char* html;
    const char* text;
  } html[] = {
      {"<script>if (a<b) x();</script><style>p{}</style><!-- c -->a&amp;b&nbsp;c&#12354;&#x1F600;&bogus;", "a&b cあ〓&bogus;\n"},
      {"<pre>  two\n  lines</pre><ul><li>one<li>two</ul>x < y", "  two\n  lines\none\ntwo\nx < y\n"},
      {"<a href=\"http://a.jp/\">http://a.jp/</a> <a href='mailto:b@c.jp'>b@c.jp</a> <a href=#top>up</a>",
       "http://a.jp/ b@c.jp up\n"},
      {"<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>", "1 2\n3\n"},
  };
  for (const auto& row : html) {
    std::string out;
    HtmlTextRenderer renderer;
    // Fed a byte at a time: tags and references cut anywhere.
    for (const char* p = row.html; *p != '\0'; ++p) renderer.add(std::string_view(p, 1), out);
    renderer.finish(out);
    EXPECT_EQ(out, row.text) << row.html;
  }
  const struct {
    const char* field;
    const char* name;
    const char* value;  // nullptr: none
    bool extended;
  } parameters[] = {
      {"attachment; filename*0*=utf-8'ja'%E6%97%A5; filename*1=\"x y.txt\"", "filename", "日x y.txt", true},
      {"attachment; filename*1*=%E6%97%A5", "filename", nullptr, false},  // no first piece
      {"attachment; filename*2=c; filename*0=a; filename*1=b", "filename", "abc", true},  // by number
      {"attachment; filename=\"a\\\"b;c\"; size=3", "filename", "a\"b;c", false},
      {"attachment; filename*=x-none''caf%E9", "filename", "caf\xE9", true},
      {"text/plain; NAME = plain ; charset=utf-8", "name", "plain", false},
      {"text/plain; filename=a", "name", nullptr, false},
  };
  for (const auto& row : parameters) {
    bool extended = false;
    const std::optional<std::string> value = mimeParameter(std::string("X: ") + row.field, row.name, &extended);
    EXPECT_EQ(value.has_value(), row.value != nullptr) << row.field;
    if (value && row.value) {
      EXPECT_EQ(*value, row.value) << row.field;
      EXPECT_EQ(extended, row.extended) << row.field;
    }
  }
}

}  // namespace
}  // namespace zel
