#include "codec/header_text.h"

#include <cstring>

namespace zel {

char* trimBlanks(char* text) {
  char* last = nullptr;  // last non-blank character
  for (char* p = text; *p; ++p) {
    if (*p == '\t' || *p == '\n') *p = ' ';
    if (*p != ' ') last = p;
  }
  if (!last) {
    *text = '\0';
    return text;
  }
  last[1] = '\0';
  char* first = text;
  while (*first == ' ') ++first;
  return first;
}

char* stripUnquotedBlanks(char* text) {
  bool quoted = false;
  char* d = text;
  for (const char* s = text; *s; ++s) {
    const char c = *s;
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) continue;
    *d++ = c;
  }
  *d = '\0';
  return text;
}

}  // namespace zel
