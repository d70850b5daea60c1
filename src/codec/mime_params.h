// Parameters of MIME header fields (Content-Type, Content-Disposition),
// including the RFC 2231 forms mail programs use for file names that are
// not ASCII.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zel {

// mimeParameter: the value of the parameter `name` (compared without
// regard to case) of the header field `field` (the whole field, folded or
// not, its own name included).
//   When the field has the parameter in its RFC 2231 form - "name*=" with
//   "charset'language'" and %XX escapes, or the pieces "name*0=",
//   "name*1*=", ... in order - the pieces are joined, unescaped and
//   converted from that charset to Shift-JIS (ISO-2022-JP text as the
//   classic decoder converts it; a charset this build does not know leaves
//   the bytes) and `*extended` (when given) is set. Otherwise the plain
//   value, its quotes and backslash escapes removed.
// Returns nothing when the field has no such parameter.
std::optional<std::string> mimeParameter(std::string_view field, std::string_view name,
                                         bool* extended = nullptr);

// Lines of a parameter in its RFC 2231 form, under this many characters.
inline constexpr std::size_t kParameterLineLimit = 78;

// extendedParameterLines: the parameter `name` with the UTF-8 `value` in
// its RFC 2231 form, as continuation lines of a header field: one
// " name*=UTF-8''%E8%A6%8B..." line, or where that would not stay under
// kParameterLineLimit the pieces " name*0*=UTF-8''...", " name*1*=...", ...
// of whole characters each. Every byte other than ASCII letters, digits and
// "!#$&+-.^_`|~" is written as %XX. Every line ends with a line feed, all
// but the last after a ";".
std::string extendedParameterLines(std::string_view name, std::string_view value);

}  // namespace zel
