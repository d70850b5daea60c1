// Fuzz target: the decoders of text in any charset - quoted-printable and
// base64 bodies, the charset conversions (the own ones whole and in pieces
// alike), the HTML rendering, MIME parameters and encoded words - on
// arbitrary bytes. The first byte picks a charset and a cut.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "charset/charset_convert.h"
#include "codec/base64_stream.h"
#include "codec/header_words.h"
#include "codec/html_text.h"
#include "codec/mime_params.h"
#include "codec/quoted_printable.h"

namespace {

constexpr std::array<std::string_view, 12> kLabels = {
    "utf-8", "utf-16", "shift_jis", "iso-2022-jp", "euc-jp", "iso-8859-1",
    "windows-1252", "gb18030", "big5", "euc-kr", "koi8-r", "utf-7",
};

// The own conversions give the same text whole and in pieces.
bool ownConverter(std::string_view label) {
  return label == "utf-8" || label == "utf-16" || label == "shift_jis" || label == "iso-2022-jp";
}

std::string convert(std::string_view label, zel::CharsetConverter::Direction direction, std::string_view text,
                    std::size_t cut) {
  zel::CharsetConverter converter;
  if (!converter.Open(label, direction)) std::abort();  // every label here is known
  std::string out;
  converter.Convert(text.substr(0, cut), out, false);
  converter.Convert(text.substr(cut), out, true);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view label = kLabels[data[0] % kLabels.size()];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t cut = text.empty() ? 0 : data[0] % (text.size() + 1);

  // Charsets both ways; toward CP932 at most two bytes per source byte for
  // the UTF-8 hot path.
  using Direction = zel::CharsetConverter::Direction;
  const std::string whole = convert(label, Direction::kToCp932, text, text.size());
  const std::string pieces = convert(label, Direction::kToCp932, text, cut);
  if (ownConverter(label) && whole != pieces) std::abort();
  if (label == "utf-8" && whole.size() > 2 * text.size()) std::abort();
  std::string back;
  zel::ConvertFromCp932(label == "iso-2022-jp" ? "utf-8" : label, whole, back);

  // Transfer decodings, line by line and at once.
  std::string bytes;
  zel::Base64Stream base64;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    const bool lineEnd = end != std::string_view::npos;
    if (!lineEnd) end = text.size();
    zel::quotedPrintableDecodeLine(text.substr(from, end - from), lineEnd, bytes);
    base64.add(text.substr(from, end + (lineEnd ? 1 : 0) - from), bytes);
    from = end + 1;
  }
  base64.finish(bytes);
  if (bytes.size() > 2 * text.size() + 1) std::abort();

  // HTML, in two pieces.
  std::string rendered;
  zel::HtmlTextRenderer renderer;
  renderer.add(whole.substr(0, cut), rendered);
  renderer.add(std::string_view(whole).substr(std::min(cut, whole.size())), rendered);
  renderer.finish(rendered);
  if (!rendered.empty() && rendered.back() != '\n') std::abort();

  // Parameters and encoded words.
  bool extended = false;
  zel::mimeParameter(text, "filename", &extended);
  const std::string decoded = zel::decodeHeaderWords(text);
  for (std::size_t i = 0; i + 1 < decoded.size(); ++i) {
    if (decoded[i] == '\n') std::abort();  // one line, whatever the words held
  }
  return 0;
}
