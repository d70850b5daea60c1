// Fuzzes the header-line encoder and decoder: no overrun, the decoded line
// is never longer than its source and stays one line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

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
  return 0;
}
