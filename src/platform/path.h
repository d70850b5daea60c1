// Path separators and joining.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zel {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Position of the last path separator of `path`, or npos when none.
// On Windows the search is Shift-JIS aware: a trail byte 0x5C (as in "表")
// is not a separator. On POSIX '/' never occurs as a trail byte.
std::size_t LastSeparator(std::string_view path);

// The file name part of `path`: the text after the last separator, or the
// whole path when it has none.
std::string_view FileNamePart(std::string_view path);

// The folder part of `path`: the text before the last separator; "." when
// it has none, the separator alone for a file in the root.
std::string FolderPart(std::string_view path);

// `dir` + separator + `name`; no separator is added when `dir` is empty
// (the separator is always added otherwise, even after a trailing one).
std::string JoinPath(std::string_view dir, std::string_view name);

}  // namespace zel
