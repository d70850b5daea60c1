// Codec throughput, each against its anchor in the same run.
//
//   bench_codec [megabytes]     (or ZEL_BENCH_MB; default 10)
//
// Prints per comparison "RATIO name value" (our throughput / the anchor's)
// and "MBPS name ours anchor" (MB/s of input, 1 MB = 10^6 bytes).
// Anchors: glibc iconv ("CP932" <-> "ISO-2022-JP", whole corpus in one call)
// for sjisToJis / jisToSjis (ours one line at a time, as the mail code uses
// them); a straightforward table-driven coder for base64 (MB/s of binary
// data for both directions); glibc iconv ("CP932" from "UTF-8") for the
// charset conversion of UTF-8 Japanese text (a text of the given size, one
// call each); Python's email package (message_from_bytes, get_content(),
// the text written to a file, timed by Python itself) for decoding UTF-8
// base64 messages of about 4 KB into display files with zelRecvMailDummy
// (1,000 messages from 10 MB on, fewer for smaller sizes; "MBPS" there is
// messages per second).
#include <iconv.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "charset/charset_convert.h"
#include "charset/jis_convert.h"
#include "codec/base64.h"
#include "zelpost.h"

namespace {

constexpr int kRounds = 9;  // alternating rounds; the best of each side counts

// CPU time of this thread: time the machine spends on other programs (it is
// shared) does not count against either side.
double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

double seconds(const std::function<void()>& run) {
  const double start = threadSeconds();
  run();
  return threadSeconds() - start;
}

// Runs ours and the anchor in alternating rounds, so that both see the same
// machine load, and prints the comparison. `anchorSeconds`, when given,
// times the anchor itself (an anchor in another process).
void compare(const char* name, std::size_t bytes, const std::function<void()>& ours,
             const std::function<void()>& anchor, const std::function<double()>& anchorSeconds = {},
             int rounds = kRounds) {
  double bestOurs = 1e30, bestAnchor = 1e30;
  for (int i = 0; i < rounds; ++i) {
    bestOurs = std::min(bestOurs, seconds(ours));
    bestAnchor = std::min(bestAnchor, anchorSeconds ? anchorSeconds() : seconds(anchor));
  }
  const double oursRate = bytes / bestOurs / 1e6, anchorRate = bytes / bestAnchor / 1e6;
  std::printf("RATIO %s %.2f\n", name, oursRate / anchorRate);
  std::printf("MBPS %s %.1f %.1f\n", name, oursRate, anchorRate);
}

// A mail-like Shift-JIS corpus: lines of Japanese prose (kanji, hiragana)
// with an ASCII word, number or URL as every tenth item, 10 to 120 bytes (no half-width katakana: iconv's
// ISO-2022-JP has none, and the corpus is converted by both).
std::string makeCorpus(std::size_t size) {
  std::mt19937 rng(20240601);
  std::string text;
  text.reserve(size + 200);
  const char* const words[] = {"the", "mail", "server", "2024", "OK", "http://example.jp/", "(", ")", ",", "."};
  while (text.size() < size) {
    const std::size_t length = 10 + rng() % 110;
    std::string line;
    while (line.size() < length) {
      const unsigned kind = rng() % 10;
      if (kind < 1) {
        line += words[rng() % 10];
        line += ' ';
      } else if (kind < 6) {
        line += '\x82';  // hiragana
        line += static_cast<char>(0x9F + rng() % 83);
      } else {
        // A kanji of JIS X 0208 level 1 (lead 0x89-0x97, valid trail).
        line += static_cast<char>(0x89 + rng() % 15);
        unsigned t = 0x40 + rng() % 188;
        if (t >= 0x7F) ++t;
        line += static_cast<char>(t);
      }
    }
    line += '\n';
    text += line;
  }
  return text;
}

// The anchor of decode_utf8_mail_vs_python: every message of a folder into
// a text file, timed in CPU seconds of the process as ours are.
constexpr const char* kPythonDecoder = R"py(
import email, email.policy, os, sys, time
src, out, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
start = time.process_time()
for i in range(count):
    with open(os.path.join(src, '%05d.eml' % i), 'rb') as f:
        m = email.message_from_bytes(f.read(), policy=email.policy.default)
    with open(os.path.join(out, '%05d.txt' % i), 'w', encoding='cp932', errors='replace') as f:
        f.write(str(m['Subject']) + '\n' + str(m['From']) + '\n\n' + m.get_content())
print(time.process_time() - start)
)py";

// A UTF-8 message with a base64 body of about 4 KB, as POP3 hands it over.
std::string utf8Message(const std::string& utf8, std::size_t at) {
  std::string text = utf8.substr(at, 3000);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
  if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0) text.pop_back();
  std::vector<char> b64(zel::base64EncodedSize(text.size()) + 1);
  const std::size_t n = zel::base64Encode(text.data(), text.size(), b64.data());
  std::string message =
      "Subject: =?UTF-8?B?5Lu25ZCN44OG44K544OI?=\r\nFrom: =?UTF-8?B?5bGx55Sw?= <a@example.jp>\r\n"
      "Date: Tue, 02 Oct 2001 09:05:07 +0900\r\nMIME-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  for (std::size_t i = 0; i < n; i += 76) message.append(b64.data() + i, std::min<std::size_t>(76, n - i)) += "\r\n";
  return message;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::size_t stop = end == std::string::npos ? text.size() : end + 1;
    lines.emplace_back(text, at, stop - at);
    at = stop;
  }
  return lines;
}

std::size_t iconvAll(const char* to, const char* from, const std::string& in, std::vector<char>& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::perror("iconv_open");
    std::exit(1);
  }
  char* src = const_cast<char*>(in.data());
  std::size_t left = in.size();
  char* dst = out.data();
  std::size_t room = out.size();
  if (iconv(cd, &src, &left, &dst, &room) == static_cast<std::size_t>(-1) ||
      iconv(cd, nullptr, nullptr, &dst, &room) == static_cast<std::size_t>(-1)) {
    std::perror("iconv");
    std::exit(1);
  }
  iconv_close(cd);
  return static_cast<std::size_t>(dst - out.data());
}

// The anchor base64 coder: one character at a time through the alphabet
// and a 256-entry decode table.
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::size_t plainEncode(const unsigned char* s, std::size_t n, char* d) {
  char* const start = d;
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    *d++ = kAlphabet[s[i] >> 2];
    *d++ = kAlphabet[((s[i] & 3) << 4) | (s[i + 1] >> 4)];
    *d++ = kAlphabet[((s[i + 1] & 15) << 2) | (s[i + 2] >> 6)];
    *d++ = kAlphabet[s[i + 2] & 63];
  }
  if (n - i == 1) {
    *d++ = kAlphabet[s[i] >> 2];
    *d++ = kAlphabet[(s[i] & 3) << 4];
    *d++ = '=';
    *d++ = '=';
  } else if (n - i == 2) {
    *d++ = kAlphabet[s[i] >> 2];
    *d++ = kAlphabet[((s[i] & 3) << 4) | (s[i + 1] >> 4)];
    *d++ = kAlphabet[(s[i + 1] & 15) << 2];
    *d++ = '=';
  }
  return static_cast<std::size_t>(d - start);
}

std::size_t plainDecode(const char* text, std::size_t n, unsigned char* d) {
  static unsigned char map[256];
  static bool ready = false;
  if (!ready) {
    for (int i = 0; i < 64; ++i) map[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    ready = true;
  }
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  unsigned char* const start = d;
  for (std::size_t i = 0; i + 4 <= n; i += 4) {
    const unsigned w = map[s[i]], x = map[s[i + 1]], y = map[s[i + 2]], z = map[s[i + 3]];
    *d++ = static_cast<unsigned char>((w << 2) | (x >> 4));
    *d++ = static_cast<unsigned char>((x << 4) | (y >> 2));
    *d++ = static_cast<unsigned char>((y << 6) | z);
  }
  std::size_t count = static_cast<std::size_t>(d - start);
  if (n >= 4 && s[n - 1] == '=') --count;
  if (n >= 4 && s[n - 2] == '=') --count;
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  double megabytes = 10;
  if (const char* env = std::getenv("ZEL_BENCH_MB")) megabytes = std::atof(env);
  if (argc > 1) megabytes = std::atof(argv[1]);
  if (!(megabytes > 0)) megabytes = 10;
  const std::size_t size = static_cast<std::size_t>(megabytes * 1e6);

  // Character sets.
  const std::string sjis = makeCorpus(size);
  const std::vector<std::string> sjisLines = splitLines(sjis);
  std::vector<char> iconvOut(sjis.size() * 5 + 64);
  std::vector<char> lineOut(zel::kJisLineSize + 64);
  std::string ours;

  const std::size_t jisLength = iconvAll("ISO-2022-JP", "CP932", sjis, iconvOut);
  const std::string jis(iconvOut.data(), jisLength);
  // Our converter must agree with the anchor before it is timed.
  ours.clear();
  for (const std::string& line : sjisLines) {
    std::vector<char> out(zel::sjisToJisBound(line.size()));
    ours.append(out.data(), zel::sjisToJis(line.data(), line.size(), out.data()));
  }
  if (ours != jis) {
    std::fprintf(stderr, "sjisToJis disagrees with iconv\n");
    return 1;
  }
  std::fprintf(stderr, "corpus %zu bytes, %zu lines\n", sjis.size(), sjisLines.size());

  std::size_t sink = 0;
  compare(
      "sjisToJis", sjis.size(),
      [&] {
        for (const std::string& line : sjisLines) sink += zel::sjisToJis(line.data(), line.size(), lineOut.data());
      },
      [&] { sink += iconvAll("ISO-2022-JP", "CP932", sjis, iconvOut); });

  const std::vector<std::string> jisLines = splitLines(ours);
  compare(
      "jisToSjis", ours.size(),
      [&] {
        for (const std::string& line : jisLines) sink += zel::jisToSjis(line.data(), line.size(), lineOut.data());
      },
      [&] { sink += iconvAll("CP932", "ISO-2022-JP", ours, iconvOut); });

  // Base64 over random bytes.
  std::mt19937_64 rng(7);
  std::vector<unsigned char> bytes(size);
  for (auto& b : bytes) b = static_cast<unsigned char>(rng());
  std::vector<char> text(zel::base64EncodedSize(size) + 1);
  std::vector<unsigned char> back(zel::base64DecodedBound(text.size()) + 4);

  compare(
      "base64Encode", size, [&] { sink += zel::base64Encode(bytes.data(), size, text.data()); },
      [&] { sink += plainEncode(bytes.data(), size, text.data()); });

  const std::size_t textLength = zel::base64EncodedSize(size);
  compare(
      "base64DecodeLine", size, [&] { sink += zel::base64DecodeLine(text.data(), textLength, back.data()); },
      [&] { sink += plainDecode(text.data(), textLength, back.data()); });
  if (zel::base64DecodeLine(text.data(), textLength, back.data()) != size ||
      std::memcmp(back.data(), bytes.data(), size) != 0) {
    std::fprintf(stderr, "base64 round trip failed\n");
    return 1;
  }

  // The attachment shapes: 54-byte blocks out, 72-character lines in.
  compare(
      "base64Encode_54", size,
      [&] {
        for (std::size_t i = 0; i < size; i += 54)
          sink += zel::base64Encode(bytes.data() + i, std::min<std::size_t>(54, size - i), text.data() + i / 54 * 72);
      },
      [&] {
        for (std::size_t i = 0; i < size; i += 54)
          sink += plainEncode(bytes.data() + i, std::min<std::size_t>(54, size - i), text.data() + i / 54 * 72);
      });
  compare(
      "base64DecodeLine_72", size,
      [&] {
        for (std::size_t i = 0; i < textLength; i += 72)
          sink += zel::base64DecodeLine(text.data() + i, std::min<std::size_t>(72, textLength - i),
                                        back.data() + i / 72 * 54);
      },
      [&] {
        for (std::size_t i = 0; i < textLength; i += 72)
          sink += plainDecode(text.data() + i, std::min<std::size_t>(72, textLength - i), back.data() + i / 72 * 54);
      });

  // UTF-8 Japanese text to CP932: the same text, from Shift-JIS through
  // iconv, cut to the size.
  std::vector<char> utf8Buffer(sjis.size() * 2 + 64);
  std::string utf8(utf8Buffer.data(), iconvAll("UTF-8", "CP932", makeCorpus(size * 2 / 3 + 64), utf8Buffer));
  std::size_t utf8Size = std::min(utf8.size(), size);
  while (utf8Size > 0 && utf8Size < utf8.size() && (static_cast<unsigned char>(utf8[utf8Size]) & 0xC0) == 0x80) --utf8Size;
  utf8.resize(utf8Size);
  std::vector<char> cp932Out(utf8.size() + 64);
  std::string converted;
  zel::ConvertToCp932("UTF-8", utf8, converted);
  if (converted != std::string(cp932Out.data(), iconvAll("CP932", "UTF-8", utf8, cp932Out))) {
    std::fprintf(stderr, "UTF-8 to CP932 disagrees with iconv\n");
    return 1;
  }
  compare(
      "utf8_to_cp932_vs_iconv", utf8.size(),
      [&] {
        converted.clear();
        zel::ConvertToCp932("UTF-8", utf8, converted);
        sink += converted.size();
      },
      [&] { sink += iconvAll("CP932", "UTF-8", utf8, cp932Out); });

  // UTF-8 base64 mail into display files, against Python's email package.
  const int messages = static_cast<int>(std::clamp(megabytes * 100, 20.0, 1000.0));
  char folder[] = "/tmp/zel-bench-mail-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = folder;
  for (const char* sub : {"/raw", "/ours", "/python"}) {
    if (std::system(("mkdir -p '" + dir + sub + "'").c_str()) != 0) return 1;
  }
  writeFile(dir + "/decode.py", kPythonDecoder);
  for (int i = 0; i < messages; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "/%05d.eml", i);
    writeFile(dir + "/raw" + name, utf8Message(utf8, (static_cast<std::size_t>(i) * 997) % (utf8.size() / 2)));
  }
  zelSetValueInt("DECODE", 1);
  const std::string python = "python3 '" + dir + "/decode.py' '" + dir + "/raw' '" + dir + "/python' " +
                             std::to_string(messages);
  compare(
      "decode_utf8_mail_vs_python", static_cast<std::size_t>(messages) * 1000000,
      [&] {
        for (int i = 0; i < messages; ++i) {
          char raw[16], display[16];
          std::snprintf(raw, sizeof raw, "/%05d.eml", i);
          std::snprintf(display, sizeof display, "/%05d.wml", i);
          if (zelRecvMailDummy((dir + "/ours" + display).c_str(), (dir + "/raw" + raw).c_str()) != 1) {
            std::fprintf(stderr, "zelRecvMailDummy failed\n");
            std::exit(1);
          }
        }
      },
      {},
      [&] {
        std::FILE* p = popen(python.c_str(), "r");
        double spent = 1e30;
        if (p == nullptr || std::fscanf(p, "%lf", &spent) != 1 || pclose(p) != 0) {
          std::fprintf(stderr, "the Python decoder failed\n");
          std::exit(1);
        }
        return spent;
      },
      3);
  std::system(("rm -rf '" + dir + "'").c_str());

  std::fprintf(stderr, "checksum %zu\n", sink);
  return 0;
}
