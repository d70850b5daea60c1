// Text at the edges of zelsend and zelrecv: the console speaks the
// locale's character set, the library Shift-JIS.
#pragma once

#include <cstddef>
#include <cstdio>
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

// PutConsoleText - writes Shift-JIS text to `stream` in the console's
// character set (as ConsoleText converts it). Does not flush.
void PutConsoleText(std::FILE* stream, std::string_view sjis);

// ConsoleDisplayText - Shift-JIS text that came from a mail (a subject, a
// sender) as the terminal shows it: control bytes become blanks, so that
// nothing in a mail can move the cursor or command the terminal, and text
// that cannot be converted shows "?" for each byte outside ASCII.
std::string ConsoleDisplayText(std::string_view sjis);

// StoreConsoleText - console text into a fixed field as Shift-JIS.
// Returns false when it does not fit (the field then holds a prefix).
bool StoreConsoleText(char* field, std::size_t size, std::string_view console);

template <std::size_t N>
bool StoreConsoleText(char (&field)[N], std::string_view console) {
  return StoreConsoleText(field, N, console);
}

// TooLongMessage - the message for a value longer than its field; `option`
// names where it came from ("-S", "-BF"). Shift-JIS, ends with a line feed.
std::string TooLongMessage(const std::string& option);

}  // namespace zel::sender
