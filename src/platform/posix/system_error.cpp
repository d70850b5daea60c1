#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>

#include "platform/system_error.h"

namespace zel {

int LastSystemError() { return errno; }

void SetLastSystemError(int error) { errno = error; }

std::string SystemErrorText(int error) {
  if (error == 0) return {};
  // The "C" locale's text: ASCII, whatever locale the host has set.
  static const locale_t plain = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  if (plain == static_cast<locale_t>(nullptr)) return "error " + std::to_string(error);
  return strerror_l(error, plain);
}

}  // namespace zel
