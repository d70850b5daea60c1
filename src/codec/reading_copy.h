// Reading copy (".qml") of a display file: what a mailbox entry shows.
//
// Layout: "X-MailFile: <display path>", the header table (selected fields,
// Date in local time), an empty line, then the body. A multipart/mixed or
// multipart/alternative message whose boundary is the first, quoted
// parameter of its Content-Type shows only the text of a first text/plain
// part, a notice, and one line per further part:
//   添付: N "file name"        (disposition attachment with a filename)
//   添付: N "-*-no-name-*-"    (no Content-Disposition)
//   添付: N "-*-inline-*-"     (any other disposition text)
//   添付: N "-*-no-content-type-*-"   (no Content-Type; N not counted up)
// With DecodeMode::kAnyCharset file names in encoded words of any charset
// and in their RFC 2231 form are converted to Shift-JIS; the classic mode
// reads ISO-2022-JP words only.
#pragma once

#include <string_view>

#include "codec/decode_mode.h"
#include "codec/header_table.h"
#include "codec/line_stream.h"

namespace zel {

// makeReadingCopy: writes the reading copy of the display file read from
// `display` to `readingCopy`.
//   displayPath  text of the "X-MailFile:" line (the display file's path)
//   table        the session's header table; reset first, then filled
//   mode         how attachment names are decoded
// Returns 1 on success, 0 when writing fails. Malformed input never fails.
int makeReadingCopy(std::string_view displayPath, LineSource& display, LineSink& readingCopy,
                    HeaderTable& table, DecodeMode mode = DecodeMode::kAnyCharset);

}  // namespace zel
