// Fuzz target: display file -> reading copy, on arbitrary bytes.
#include <cstdlib>

#include "codec/header_table.h"
#include "codec/reading_copy.h"
#include "../tests/codec/fixed_clock.h"
#include "../tests/codec/memory_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace zel;
  static const FixedClock clock;
  static HeaderTable table(clock);
  test::MemorySource in(std::string(reinterpret_cast<const char*>(data), size));
  test::MemorySink out;
  if (makeReadingCopy("fuzz.wml", in, out, table) != 1) std::abort();
  if (out.text().rfind("X-MailFile: fuzz.wml\n", 0) != 0) std::abort();
  return 0;
}
