// Fuzz target: display file -> reading copy, on arbitrary bytes.
#include <cstdlib>

#include "codec/header_table.h"
#include "codec/reading_copy.h"
#include "fuzz_decode_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace zel;
  static HeaderTable table;
  fuzz::MemorySource in(std::string_view(reinterpret_cast<const char*>(data), size));
  fuzz::MemorySink out;
  if (makeReadingCopy("fuzz.wml", in, out, table) != 1) std::abort();
  if (out.text_.rfind("X-MailFile: fuzz.wml\n", 0) != 0) std::abort();
  return 0;
}
