#include <stdio.h>

#include <string>

#include "platform/text_file.h"

namespace zel {

std::FILE* OpenHostFile(std::string_view path, const char* mode, bool /*noFollow*/) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return nullptr;
  const std::string native(path);
  // The ANSI C library takes the Shift-JIS bytes in the process code page.
  return std::fopen(native.c_str(), mode);
}

}  // namespace zel
