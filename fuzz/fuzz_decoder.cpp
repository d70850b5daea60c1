// Fuzz target: raw message -> display file, on arbitrary bytes, by the
// classic decoder and by the decoder of any charset.
#include <cstdlib>
#include <cstring>

#include "codec/message_decoder.h"
#include "../tests/codec/memory_streams.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace zel;
  for (const DecodeMode mode : {DecodeMode::kClassic, DecodeMode::kAnyCharset}) {
    test::MemorySource in(std::string(reinterpret_cast<const char*>(data), size));
    test::MemorySink out;
    MessageInfo info;
    info.clear();
    MessageDecoder decoder(mode);
    if (decoder.decodeHeader(in, out, info) != 1 || decoder.decodeBody(in, out) != 1) std::abort();
    // The captured texts stay inside their fields.
    if (std::memchr(info.from, '\0', sizeof info.from) == nullptr) std::abort();
    if (std::memchr(info.subject, '\0', sizeof info.subject) == nullptr) std::abort();
    // The display file ends with its line feed.
    if (out.text().empty() || out.text().back() != '\n') std::abort();
  }
  return 0;
}
