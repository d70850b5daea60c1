// UTF-8 text of a send file: validity and whole characters.
#pragma once

#include <cstddef>
#include <string_view>

namespace zel {

// utf8InvalidAt: the offset of the first byte of `text` that does not
// belong to a well-formed UTF-8 character (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF; a character cut at the end counts as
// malformed), or npos when the whole text is UTF-8.
std::size_t utf8InvalidAt(std::string_view text);

// utf8WholeCharsLength: the length of `text` without a character cut at its
// end (a lead byte, with the continuation bytes that follow it, that lacks
// some of its continuation bytes): the whole characters of a piece cut from
// a longer text. Malformed bytes count as characters of their own.
std::size_t utf8WholeCharsLength(std::string_view text);

}  // namespace zel
