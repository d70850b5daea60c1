// Name of the local machine.
#pragma once

#include <cstddef>

namespace zel {

// Writes the local host name, as the platform reports it, into `out`
// (capacity `size` bytes including the NUL, `size` > 0), cut at a character
// boundary when longer. Returns true when a name was obtained; on failure
// `out` holds an empty text.
bool LocalHostName(char* out, std::size_t size);

}  // namespace zel
