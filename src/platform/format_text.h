// printf formatting of any length into a string.
#pragma once

#include <cstdarg>
#include <string>

namespace zel {

// Formats `args` by `format` (printf conventions) into `out`, whatever the
// length. `args` is consumed as by vsnprintf. Returns false (and `out`
// empty) when the C library reports a formatting error.
bool FormatText(std::string& out, const char* format, va_list args);

}  // namespace zel
