// Line helpers shared by the incoming message decoder and the reading copy.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ascii_case.h"
#include "codec/line_stream.h"

namespace zel {

// readWholeLine: reads one line of any length from `in` (up to and including
// its line feed, or to the end of the stream), joining the pieces a
// fixed-size read returns, so a long line is never taken for several.
//   line  replaced by the line read (may hold NUL bytes)
// Returns false at the end of the stream with nothing read.
bool readWholeLine(LineSource& in, std::string& line);

}  // namespace zel
