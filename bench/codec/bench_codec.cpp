// Codec throughput, each against its anchor in the same run.
//
//   bench_codec [megabytes]     (or ZEL_BENCH_MB; default 10)
//
// Prints per comparison "RATIO name value" (our throughput / the anchor's)
// and "MBPS name ours anchor" (MB/s of input, 1 MB = 10^6 bytes).
// Anchors: glibc iconv ("CP932" <-> "ISO-2022-JP", whole corpus in one call)
// for sjisToJis / jisToSjis (ours one line at a time, as the mail code uses
// them); a straightforward table-driven coder for base64 (MB/s of binary
// data for both directions).
#include <iconv.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "codec/charset.h"

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
// machine load, and prints the comparison.
void compare(const char* name, std::size_t bytes, const std::function<void()>& ours,
             const std::function<void()>& anchor) {
  double bestOurs = 1e30, bestAnchor = 1e30;
  for (int i = 0; i < kRounds; ++i) {
    bestOurs = std::min(bestOurs, seconds(ours));
    bestAnchor = std::min(bestAnchor, seconds(anchor));
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

  std::fprintf(stderr, "checksum %zu\n", sink);
  return 0;
}
