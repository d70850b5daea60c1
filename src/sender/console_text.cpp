// Console text conversion of zelsend.
#include "sender/console_text.h"

#include <cctype>
#include <clocale>
#include <string>

#include "platform/path_charset.h"

namespace zel::sender {
namespace {

// True when console text is converted from and to UTF-8; false when the
// console already speaks Shift-JIS (Windows, or a Shift-JIS locale).
bool convertUtf8 = false;

#ifndef _WIN32
// True for the code set names of Shift-JIS ("SJIS", "Shift_JIS", "CP932").
bool IsShiftJisCodeset(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (c != '-' && c != '_') key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return key == "SJIS" || key == "SHIFTJIS" || key == "CP932" || key == "WINDOWS31J" ||
         key == "MSKANJI";
}
#endif

}  // namespace

void InitConsoleText() {
#ifdef _WIN32
  convertUtf8 = false;
#else
  const char* name = std::setlocale(LC_CTYPE, "");
  std::string_view locale = name != nullptr ? name : "C";
  // "ja_JP.SJIS@modifier": the code set stands between "." and "@".
  std::string_view codeset;
  if (const std::size_t dot = locale.find('.'); dot != std::string_view::npos) {
    codeset = locale.substr(dot + 1);
    codeset = codeset.substr(0, codeset.find('@'));
  }
  // UTF-8 locales, and "C"/"POSIX" whose ASCII is a part of it.
  convertUtf8 = !IsShiftJisCodeset(codeset);
  std::setlocale(LC_CTYPE, "C");
#endif
}

std::string HostText(std::string_view console) {
  std::string out;
  if (convertUtf8 && Utf8ToSjis(console, out)) return out;
  return std::string(console);
}

std::string ConsoleText(std::string_view sjis) {
  std::string out;
  if (convertUtf8 && SjisToUtf8(sjis, out)) return out;
  return std::string(sjis);
}

}  // namespace zel::sender
