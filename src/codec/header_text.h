// In-place cleaning of header texts.
#pragma once

namespace zel {

// trimBlanks: replaces every tab and line feed of `text` by a blank, cuts
// the trailing blanks (overwriting them with NUL) and returns a pointer to
// the first non-blank character (the terminating NUL for a blank text).
char* trimBlanks(char* text);

// stripUnquotedBlanks: removes every blank, tab, CR and LF outside double
// quotes; quoted text and the quotes stay. Returns `text`.
char* stripUnquotedBlanks(char* text);

}  // namespace zel
