// Name of the local machine.
#pragma once

#include <cstddef>

namespace zel {

// Writes the local host name, as the platform reports it, into `out`
// (capacity `size` bytes including the NUL, `size` > 0). Returns true when a
// name was obtained and fits; otherwise `out` holds an empty text (a name is
// never cut: a cut name would be another host).
bool LocalHostName(char* out, std::size_t size);

}  // namespace zel
