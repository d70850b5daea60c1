// The DATA form of a message (RFC 5321 transparency).
#pragma once

#include <string_view>

#include "codec/line_stream.h"

namespace zel {

// Writes everything to `out`, with one more "." in front of every physical
// line that begins with ".". All of a message goes through it, whoever wrote
// the line, so no line of the message can end the SMTP data early; only the
// end-of-data line itself is written to `out` directly.
class DotStuffingSink : public LineSink {
 public:
  explicit DotStuffingSink(LineSink& out) : out_(out) {}

  // Returns false when writing to `out` fails.
  bool write(std::string_view text) override;

 private:
  LineSink& out_;
  bool lineStart_ = true;  // the next byte begins a line
};

}  // namespace zel
