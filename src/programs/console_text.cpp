// Console text conversion of zelsend and zelrecv.
#include "programs/console_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/path_charset.h"
#include "platform/sjis_text.h"

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

// The locale name the C library would choose for LC_CTYPE: the first of
// LC_ALL, LC_CTYPE and LANG that is set and not empty, else "C".
std::string_view CtypeLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "C";
}
#endif

// True when `text` is ASCII only, which reads the same in both character sets.
bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

void InitConsoleText() {
#ifdef _WIN32
  convertUtf8 = false;
#else
  // Only the name is needed: loading the locale itself (setlocale) would map
  // the locale archive on every run of this one-shot program.
  const std::string_view locale = CtypeLocaleName();
  // "ja_JP.SJIS@modifier": the code set stands between "." and "@".
  std::string_view codeset;
  if (const std::size_t dot = locale.find('.'); dot != std::string_view::npos) {
    codeset = locale.substr(dot + 1);
    codeset = codeset.substr(0, codeset.find('@'));
  }
  // UTF-8 locales, and "C"/"POSIX" whose ASCII is a part of it.
  convertUtf8 = !IsShiftJisCodeset(codeset);
#endif
}

std::string HostText(std::string_view console) {
  std::string out;
  if (convertUtf8 && !IsAscii(console) && Utf8ToSjis(console, out)) return out;
  return std::string(console);
}

std::string ConsoleText(std::string_view sjis) {
  std::string out;
  if (convertUtf8 && !IsAscii(sjis) && SjisToUtf8(sjis, out)) return out;
  return std::string(sjis);
}

void PutConsoleText(std::FILE* stream, std::string_view sjis) {
  const std::string text = ConsoleText(sjis);
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string ConsoleDisplayText(std::string_view sjis) {
  std::string text(sjis);
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  std::string out;
  if (!convertUtf8 || IsAscii(text)) return text;
  if (SjisToUtf8(text, out)) return out;
  for (char& c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return text;
}

bool StoreConsoleText(char* field, std::size_t size, std::string_view console) {
  return CopyBounded(field, size, HostText(console));
}

std::string TooLongMessage(const std::string& option) {
  return "err: オプションの値が長すぎます [" + option + "]\n";
}

}  // namespace zel::sender
