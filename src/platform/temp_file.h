// Temporary directory and unique temporary files.
#pragma once

#include <cstddef>
#include <string>

#include "platform/sjis_text.h"

namespace zel {

// The platform's temporary directory in host (Shift-JIS) spelling, ending
// with a separator: GetTempPath on Windows, $TMPDIR or "/tmp/" on POSIX.
// Returns false (and `out` empty) when it cannot be obtained, cannot be
// converted to Shift-JIS, or is longer than kPathSize - 1 bytes.
bool TempDirectory(std::string& out);

// Creates a new, unique, empty file whose name starts with "zel" in the
// temporary directory and writes its host path into `out` (capacity
// kPathSize bytes). Returns 1 on success; 0 on failure, with `out` empty.
// The caller deletes the file when done.
int MakeTempName(char (&out)[kPathSize]);

}  // namespace zel
