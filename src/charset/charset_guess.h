// The charset of text that names none: a body without MIME header fields,
// raw bytes in a header line.
#pragma once

#include <string_view>

namespace zel {

// GuessCharset: the charset `text` is most likely written in:
//   ""             no byte above 0x7F and no ISO-2022-JP escape (ASCII)
//   "UTF-8"        bytes above 0x7F, all of them well-formed UTF-8
//   "ISO-2022-JP"  otherwise, when it holds an ISO-2022-JP escape sequence
//   "EUC-JP" or "CP932"  otherwise, whichever reads the text without a
//                  malformed byte and with fewer rare codes (half-width
//                  katakana, kanji of JIS level 2, extension and user
//                  rows); CP932 when both read it alike, and when neither
//                  reads it cleanly (the host's own charset, left as it is)
std::string_view GuessCharset(std::string_view text);

}  // namespace zel
