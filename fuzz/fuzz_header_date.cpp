// Fuzzes the date parsers, the header table and the line cleaners.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "codec/header_table.h"
#include "codec/header_text.h"
#include "codec/rfc822_date.h"

namespace {

// A fixed clock in Japan standard time; local time by plain arithmetic.
class FuzzClock final : public zel::Clock {
 public:
  std::int64_t now() const override { return 1000000000; }
  bool localTime(std::int64_t time, std::tm& f) const override {
    if (time < 0 || time > zel::kLatestDate) return false;
    const std::int64_t t = time + 32400;
    f = std::tm{};
    f.tm_mday = 1 + static_cast<int>(t / 86400 % 28);
    f.tm_hour = static_cast<int>(t / 3600 % 24);
    return true;
  }
  long utcOffset(std::int64_t) const override { return 32400; }
};

class NullSink final : public zel::LineSink {
 public:
  bool write(std::string_view text) override {
    if (text.empty() || text.back() != '\n') std::abort();
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> line(new char[size + 1]);
  std::memcpy(line.get(), data, size);
  line[size] = '\0';

  const std::int64_t t = zel::parseRfc822Date(line.get());
  if (t < 0 || t > zel::kLatestDate) std::abort();
  std::tm fields;
  zel::parseCaptureDate(line.get(), fields);

  static const FuzzClock clock;
  zel::HeaderTable table(clock);
  const std::string value(line.get());
  table.capture("Date: " + value);
  table.capture(value);
  NullSink sink;
  table.write(sink);

  std::unique_ptr<char[]> copy(new char[size + 1]);
  std::memcpy(copy.get(), line.get(), size + 1);
  zel::trimBlanks(copy.get());
  zel::stripUnquotedBlanks(line.get());
  return 0;
}
