// Editing the text of an INI file in memory (shared by the POSIX backend and
// the tests). Sections and keys match without regard to ASCII case; lines end
// CR LF or LF on input and CR LF on output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zel {

// The value of section/key in `text` (blanks around it removed), or none.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// `text` with section/key set to `value`: an existing key is replaced in
// place, a new key is added at the end of its section, a new section at the
// end of the text.
std::string SetProfileValue(std::string_view text, std::string_view section,
                            std::string_view key, std::string_view value);

// The integer the profile API reads from `value`: optional blanks, optional
// sign, leading digits; 0 when there are none.
int ProfileValueToInt(std::string_view value);

}  // namespace zel
