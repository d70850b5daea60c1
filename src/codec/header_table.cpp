#include "codec/header_table.h"

#include "platform/ascii_case.h"
#include "codec/rfc822_date.h"

namespace zel {

namespace {

constexpr std::size_t kDateIndex = 5;
constexpr std::size_t kSubjectIndex = 9;
constexpr std::size_t kFromIndex = 10;

}  // namespace

const char* const HeaderTable::kNames[kEntryCount] = {
    "Message-Id:", "References:", "In-Reply-To:", "X-ML-Name:", "X-Mail-Count:", "Date:",
    "Reply-To:",   "To:",         "Cc:",          "Subject:",   "From:"};

HeaderTable::HeaderTable(const Clock& clock) : clock_(clock) {}

void HeaderTable::reset() {
  for (std::string& v : values_) v.clear();
}

int HeaderTable::capture(std::string_view line) {
  for (std::size_t i = 0; i < kEntryCount; ++i) {
    const std::string_view name = kNames[i];
    if (!startsWithNoCase(line, name)) continue;
    // The character after the colon (normally a blank) is skipped.
    const std::size_t from = name.size() + 1;
    values_[i].assign(from < line.size() ? line.substr(from) : std::string_view());
    return 1;
  }
  return 0;
}

int HeaderTable::write(LineSink& out) const {
  for (std::size_t i = 0; i < kEntryCount; ++i) {
    const std::string& value = values_[i];
    std::string line;
    if (i == kDateIndex) {
      std::int64_t when = value.empty() ? 0 : parseRfc822Date(value.c_str());
      if (when == 0) when = clock_.now();
      line = formatDateLine(clock_, when);
    } else if (i == kSubjectIndex || i == kFromIndex || !value.empty()) {
      line = std::string(kNames[i]) + " " + value;
      // Each entry is exactly one line, also for a value captured without
      // its line feed (the last line of a file, a cut line).
      if (line.back() != '\n') line.push_back('\n');
    } else {
      continue;
    }
    if (!out.write(line)) return 0;
  }
  return 1;
}

}  // namespace zel
