#include <errno.h>
#include <string.h>

#include "platform/system_error.h"

namespace zel {

int LastSystemError() { return errno; }

void SetLastSystemError(int error) { errno = error; }

std::string SystemErrorText(int error) {
  if (error == 0) return {};
  // The C run time's texts are English, whatever the system's language.
  char text[128] = {};
  if (strerror_s(text, sizeof text, error) != 0) return "error " + std::to_string(error);
  return text;
}

}  // namespace zel
