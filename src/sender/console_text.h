// Text at the edges of zelsend: the console speaks the locale's character
// set, the library Shift-JIS.
#pragma once

#include <string>
#include <string_view>

namespace zel::sender {

// Chooses the conversion from the locale of the environment (LC_ALL,
// LC_CTYPE, LANG). Call once before the other functions.
void InitConsoleText();

// HostText - an argument of the command line as Shift-JIS.
// Input: console text. Output: the Shift-JIS text; text that cannot be
// converted (already Shift-JIS, say) is taken as it is.
std::string HostText(std::string_view console);

// ConsoleText - Shift-JIS text as the console shows it; text that cannot be
// converted is written as it is.
std::string ConsoleText(std::string_view sjis);

}  // namespace zel::sender
