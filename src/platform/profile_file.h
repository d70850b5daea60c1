// The private profile (INI) file of the library, "zelpost.ini".
//
// Windows: the file named "zelpost.ini" with no directory, i.e. in the
// Windows directory, through the profile API. POSIX: $XDG_CONFIG_HOME/
// zelpost.ini (default ~/.config/zelpost.ini, the home folder taken from the
// user database when HOME is unset, never a shared folder) in the same
// "[section]" / "key=value" format, lines CR LF. The file is used only when
// it is a regular file of the effective user reached without a link; any
// other entry at its path reads as missing and fails every write.
#pragma once

#include <string>
#include <string_view>

namespace zel {

// Host path of the profile file (POSIX) or its bare name (Windows).
std::string ProfileFilePath();

// Reads an integer value; `fallback` when the file, section or key is
// missing. A value that is not a number reads as its leading digits (0 when
// none), as the profile API does.
int ProfileInt(std::string_view section, std::string_view key, int fallback);

// Stores a text value, creating file and section as needed. Returns false
// when the file cannot be written.
bool WriteProfileText(std::string_view section, std::string_view key,
                      std::string_view value);

// Reads the integer counter at section/key (0 when absent), stores
// (value + 1) % modulo and returns the stored number in `next`. The read and
// the write hold a lock so that two processes never get the same number.
// Returns false when the new value cannot be stored (`next` still set).
bool NextProfileCounter(std::string_view section, std::string_view key,
                        int modulo, int& next);

}  // namespace zel
