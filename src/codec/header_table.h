// The header table: selected header fields of a received message, written
// back in a fixed order with the date rewritten to local time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "codec/clock.h"
#include "codec/line_stream.h"

namespace zel {

class HeaderTable {
 public:
  // Names of the entries, in table and output order.
  static constexpr std::size_t kEntryCount = 11;
  static const char* const kNames[kEntryCount];

  // `clock` gives the current time and local zone for write(); it must
  // outlive the table.
  explicit HeaderTable(const Clock& clock);

  // Sets every value to empty text.
  void reset();

  // capture: the first entry whose name equals the beginning of `line`
  // (without regard to case) takes as its value the text one character after
  // the name (the blank after the colon is skipped), line feed included; a
  // later line for the same name replaces the value.
  // Returns 1 when the line belongs to an entry, 0 otherwise.
  int capture(std::string_view line);

  // write: writes the entries as header lines in table order. "Date:" is
  // always written, in local time with the local zone's offset (the parsed
  // value, or the current time when the value is empty or unusable);
  // "Subject:" and "From:" always (an empty value gives the name, a blank
  // and a line feed); every other entry only when its value is not empty.
  // Returns 1, or 0 when writing to `out` fails.
  int write(LineSink& out) const;

  // Value of entry `index` (0-based, table order), as captured.
  const std::string& value(std::size_t index) const { return values_[index]; }

 private:
  const Clock& clock_;
  std::string values_[kEntryCount];
};

}  // namespace zel
