// Character-set conversions of host text and the OS spelling of a path.
//
// Host text and paths are Shift-JIS (code page 932). The POSIX backend hands
// the OS UTF-8 names; the Win32 backend passes Shift-JIS to the ANSI
// functions. Automation clients pass UTF-16 text.
#pragma once

#include <string>
#include <string_view>

namespace zel {

// Converts Shift-JIS (CP932) text to UTF-8. Returns false, with `out` empty,
// when the input is not valid CP932 or conversion fails.
bool SjisToUtf8(std::string_view sjis, std::string& out);

// Converts UTF-8 text to Shift-JIS (CP932). Returns false, with `out` empty,
// when the input is not valid UTF-8 or holds a character CP932 lacks.
bool Utf8ToSjis(std::string_view utf8, std::string& out);

// The spelling of a host path that the OS calls take: UTF-8 on POSIX, the
// unchanged Shift-JIS bytes on Windows. Returns false when the path cannot be
// converted (or holds a NUL); the operation using it must then fail.
bool NativePath(std::string_view sjisPath, std::string& out);

// The host (Shift-JIS) spelling of a path the OS gave us; inverse of
// NativePath. Returns false when it cannot be converted.
bool HostPath(std::string_view nativePath, std::string& out);

// Converts host text (the ANSI code page: CP932) to UTF-16. Returns false,
// with `out` empty, when the input is not valid in that code page.
bool AnsiToUtf16(std::string_view ansi, std::u16string& out);

// Converts UTF-16 text to host text (the ANSI code page: CP932). Returns
// false, with `out` empty, for an unpaired surrogate or a character the code
// page lacks (never a look-alike or "?").
bool Utf16ToAnsi(std::u16string_view utf16, std::string& out);

// The code page of host text as the process sees it: GetACP() on Windows
// (932 when the system is set up for Japanese), 932 on POSIX, where the
// conversions above are fixed to CP932.
unsigned AnsiCodePage();

}  // namespace zel
