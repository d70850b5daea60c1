#include "net/failure_note.h"

#include <cstdarg>
#include <string>

#include "platform/format_text.h"

namespace zel {

void FailureNote::Set(FailureKind failure, const char* format, ...) {
  va_list args;
  va_start(args, format);
  SetV(failure, format, args);
  va_end(args);
}

void FailureNote::SetV(FailureKind failure, const char* format, va_list args) {
  kind = failure;
  std::string formatted;
  if (!FormatText(formatted, format, args)) formatted.clear();
  CopyBounded(text, formatted);
}

}  // namespace zel
