// Fuzzes the base64 line decoder and the BinHex decoder with buffers of
// exactly the documented size, and checks the base64 round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/base64.h"
#include "codec/binhex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);

  std::unique_ptr<unsigned char[]> bytes(new unsigned char[zel::base64DecodedBound(size)]);
  const std::size_t n = zel::base64DecodeLine(text, size, bytes.get());
  if (n > zel::base64DecodedBound(size)) std::abort();

  std::unique_ptr<unsigned char[]> hex(new unsigned char[zel::binhexDecodedBound(size)]);
  if (zel::binhexDecode(text, size, hex.get()) > zel::binhexDecodedBound(size)) std::abort();

  // Encoding any bytes and decoding the text gives the bytes back.
  const std::size_t textSize = zel::base64EncodedSize(size);
  std::unique_ptr<char[]> encoded(new char[textSize + 1]);
  if (zel::base64Encode(data, size, encoded.get()) != textSize) std::abort();
  std::unique_ptr<unsigned char[]> decoded(new unsigned char[zel::base64DecodedBound(textSize)]);
  const std::size_t m = zel::base64DecodeLine(encoded.get(), textSize, decoded.get());
  if (m != size || std::memcmp(decoded.get(), data, size) != 0) std::abort();
  return 0;
}
