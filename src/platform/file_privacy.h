// Whether a settings file that holds a secret is private to its owner, as
// mail programs require before they read a password from it.
#pragma once

#include <string_view>

namespace zel {

// FileIsPrivate - true when the file at the host path `path` belongs to
// the effective user and neither its group nor others may read or write it
// (mode 0600 or stricter). POSIX only: on Windows the folder's access
// rules decide, and every file counts as private.
bool FileIsPrivate(std::string_view path);

}  // namespace zel
