#include "net/failure_note.h"

#include <cstdarg>
#include <string>

#include "platform/format_text.h"

namespace zel {

void FailureNote::Set(FailureKind failure, const char* format, ...) {
  kind = failure;
  std::string formatted;
  va_list args;
  va_start(args, format);
  if (!FormatText(formatted, format, args)) formatted.clear();
  va_end(args);
  CopyBounded(text, formatted);
}

}  // namespace zel
