// Fuzzes the header-line encoders and the decoder: no overrun, the decoded
// line is never longer than its source and stays one line, encoded lines
// keep their line feeds and are 7-bit where they can be.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "charset/utf8_text.h"
#include "codec/encoded_word.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string decoded = zel::decodeHeaderLine(text);
  if (decoded.size() > size) std::abort();
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const auto c = static_cast<unsigned char>(decoded[i]);
    const bool finalLineFeed = c == '\n' && i + 1 == decoded.size();
    if (c < 0x20 && c != '\t' && !finalLineFeed) std::abort();
  }

  // The in-place form on an exact NUL-terminated buffer.
  std::unique_ptr<char[]> line(new char[size + 1]);
  std::memcpy(line.get(), data, size);
  line[size] = '\0';
  const std::size_t n = zel::decodeHeaderLine(line.get(), line.get());
  if (n > size) std::abort();

  // Encoding keeps every line feed of the source (folds only add some).
  const std::string encoded = zel::encodeHeaderLine(text);
  std::size_t sourceFeeds = 0, encodedFeeds = 0;
  for (char c : text) sourceFeeds += c == '\n';
  for (char c : encoded) encodedFeeds += c == '\n';
  if (encodedFeeds < sourceFeeds) std::abort();

  // A line ISO-2022-JP carries, and any UTF-8 line, encode to 7-bit text
  // that keeps every line feed of the source.
  const auto sevenBit = [](const std::string& line) {
    return std::none_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  };
  // Classic words, whole words, whole words of address fields.
  for (const zel::WordRules rules : {zel::WordRules{}, zel::WordRules{.whole = true},
                                     zel::WordRules{.whole = true, .addresses = true}}) {
    int estimate = 0;
    bool carried = false;
    const std::string jis = zel::encodeHeaderPart(text, estimate, &carried, rules);
    if (carried && !sevenBit(jis)) std::abort();
    if (static_cast<std::size_t>(std::count(jis.begin(), jis.end(), '\n')) < sourceFeeds) std::abort();
    const std::string utf8 = zel::encodeUtf8HeaderLine(text, rules.addresses, rules.whole);
    if (zel::utf8InvalidAt(text) == std::string_view::npos && !sevenBit(utf8)) std::abort();
    if (static_cast<std::size_t>(std::count(utf8.begin(), utf8.end(), '\n')) < sourceFeeds) std::abort();
  }
  // The classic file names of UTF-8 messages (each run one word).
  const std::string names = zel::encodeUtf8HeaderLine(text, true);
  if (zel::utf8InvalidAt(text) == std::string_view::npos && !sevenBit(names)) std::abort();
  return 0;
}
