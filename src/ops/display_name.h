// Display file names of receive-all: "zel%05d.wml" in the mail folder,
// numbered by the counter "count" of section "zelsend" in the profile file
// zelpost.ini, which every session and process on the machine shares.
#pragma once

#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace zel {

// Counter numbers run 1..99999, then 0 again.
inline constexpr int kDisplayNameModulo = 100000;

// NextDisplayName - creates the next display file of `folder`.
//   Takes the next counter number (read and stored under the profile file's
//   lock) and creates "zel%05d.wml" in `folder` as a new file; a name that
//   exists already is skipped for the next number, so no file is ever
//   overwritten and two processes never share one.
//   path     receives the display file's path (or, on a counter failure,
//            the profile file's)
//   display  opened on the new file for writing (text mode)
// Returns 1 created; 0 the counter could not be stored; -1 the file could
// not be created (the folder is missing or not writable, the path is too
// long, or every number is taken).
int NextDisplayName(std::string_view folder, std::string& path, TextFile& display);

}  // namespace zel
