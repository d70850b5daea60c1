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

#include <functional>
#include <optional>
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

// UpdateProfileCounter - reads the integer counter at section/key (0 when
// absent) and stores what `step` makes of it (nothing when `step` gives
// none), both under one lock between processes (the file's lock on POSIX,
// a named mutex on Windows). The stored value is not flushed to stable
// storage: a number lost in a crash only comes back as a name that exists,
// which its users skip. Returns false when the file cannot be read or the
// new value not written.
bool UpdateProfileCounter(std::string_view section, std::string_view key,
                          const std::function<std::optional<long long>(long long)>& step);

// ReserveProfileCounter - takes `count` (>= 1) numbers of the integer
// counter at section/key at once: with n the stored value (0 when absent),
// stores (n + count) % modulo and gives `first` = (n + 1) % modulo. The
// numbers first .. first + count - 1 (each % modulo) are the caller's
// alone: the read and the write hold a lock, so two processes never get the
// same number, and the counter is past them before any is used, so not even
// a process that dies keeps them from being unique. Returns false when the
// new value cannot be stored (`first` still set).
bool ReserveProfileCounter(std::string_view section, std::string_view key, int modulo,
                           int count, int& first);

// The counter's next number alone: ReserveProfileCounter with count 1.
inline bool NextProfileCounter(std::string_view section, std::string_view key, int modulo,
                               int& next) {
  return ReserveProfileCounter(section, key, modulo, 1, next);
}

// ReleaseProfileCounter - gives back the unused end of a reservation that
// left the counter at `end`, of which `last` was the last number used:
// stores `last` when the counter still holds `end` (nobody has reserved
// since), and otherwise leaves it, the rest of the reservation unused.
// Returns false when the file cannot be read or written.
bool ReleaseProfileCounter(std::string_view section, std::string_view key, int end, int last);

}  // namespace zel
