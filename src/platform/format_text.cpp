#include "platform/format_text.h"

#include <cstdio>

namespace zel {

bool FormatText(std::string& out, const char* format, va_list args) {
  out.clear();
  // Most texts fit the first try; a longer one is formatted again in full.
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  if (n < 0) {
    va_end(copy);
    return false;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(n));
  } else {
    out.resize(static_cast<std::size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, format, copy);
  }
  va_end(copy);
  return true;
}

}  // namespace zel
