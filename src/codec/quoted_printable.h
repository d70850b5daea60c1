// Quoted-printable bodies (RFC 2045), decoded a line at a time.
#pragma once

#include <string>
#include <string_view>

namespace zel {

// quotedPrintableDecodeLine: decodes one body line.
//   line     the line without its line end
//   lineEnd  whether the line had one (the last line of a text may not)
//   out      the decoded bytes are appended
// "=XX" (hexadecimal digits in either case) gives the byte XX; an "=" at the
// end of the line, or followed by blanks and tabs only, is a soft line break
// (no line end is written); any other "=" stays as it is, as Python's
// decoder keeps it. Every other line ends with "\n".
void quotedPrintableDecodeLine(std::string_view line, bool lineEnd, std::string& out);

}  // namespace zel
