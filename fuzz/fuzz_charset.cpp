// Fuzzes the line converters with buffers of exactly the documented size;
// none makes a control byte its input did not hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "charset/jis_convert.h"

namespace {

// Control bytes of `n` bytes at `p`, escapes (which the converters add and
// remove) not counted.
std::size_t controls(const char* p, std::size_t n) {
  return static_cast<std::size_t>(std::count_if(p, p + n, [](char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != 0x1B;
  }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);

  const std::size_t jisSize = zel::sjisToJisBound(size);
  std::unique_ptr<char[]> jis(new char[jisSize]);
  const std::size_t jisLength = zel::sjisToJis(text, size, jis.get());
  if (jisLength >= jisSize || jis[jisLength] != '\0') std::abort();
  if (controls(jis.get(), jisLength) > controls(text, size)) std::abort();

  // The converter of the send path: text it carries comes out 7-bit and in
  // the same control bytes.
  std::unique_ptr<char[]> carried(new char[jisSize]);
  const std::size_t carriedLength = zel::cp932ToIso2022Jp(text, size, carried.get());
  if (carriedLength != zel::kNotCarried) {
    if (carriedLength >= jisSize || carried[carriedLength] != '\0') std::abort();
    if (std::any_of(carried.get(), carried.get() + carriedLength,
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
      std::abort();
    if (controls(carried.get(), carriedLength) != controls(text, size)) std::abort();
  }

  // Back again, in place: never longer than its input.
  const std::size_t back = zel::jisToSjis(jis.get(), jisLength, jis.get());
  if (back > jisLength) std::abort();

  std::unique_ptr<char[]> sjis(new char[size + 1]);
  const std::size_t n = zel::jisToSjis(text, size, sjis.get());
  if (n > size || sjis[n] != '\0') std::abort();
  if (controls(sjis.get(), n) > controls(text, size)) std::abort();

  // In place gives the same as into a separate buffer.
  std::unique_ptr<char[]> inPlace(new char[size + 1]);
  std::memcpy(inPlace.get(), data, size);
  if (zel::jisToSjis(inPlace.get(), size, inPlace.get()) != n || std::memcmp(inPlace.get(), sjis.get(), n) != 0)
    std::abort();

  // The NUL-terminated forms read no further than the terminator.
  std::unique_ptr<char[]> line(new char[size + 1]);
  std::memcpy(line.get(), data, size);
  line[size] = '\0';
  const std::size_t lineLength = std::strlen(line.get());
  std::unique_ptr<char[]> out(new char[zel::sjisToJisBound(lineLength)]);
  zel::sjisToJis(line.get(), out.get());
  zel::jisToSjis(line.get(), line.get());
  return 0;
}
