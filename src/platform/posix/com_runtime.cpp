#include "platform/com_runtime.h"

#include <cstdlib>
#include <cstring>

namespace zel {
namespace {

constexpr std::int32_t kNotImplemented = static_cast<std::int32_t>(0x80004001);  // E_NOTIMPL
constexpr std::uint32_t kMaxLength = (UINT32_MAX - 6) / 2;  // the byte count fits 32 bits

}  // namespace

char16_t* BstrAllocate(const char16_t* text, std::uint32_t length) {
  if (length > kMaxLength) return nullptr;
  const std::uint32_t bytes = length * 2;
  auto* block = static_cast<unsigned char*>(std::malloc(4 + static_cast<std::size_t>(bytes) + 2));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &bytes, 4);
  auto* units = reinterpret_cast<char16_t*>(block + 4);
  if (text != nullptr) {
    std::memcpy(units, text, bytes);
  } else {
    std::memset(units, 0, bytes);
  }
  units[length] = u'\0';
  return units;
}

void BstrFree(char16_t* bstr) {
  if (bstr != nullptr) std::free(reinterpret_cast<unsigned char*>(bstr) - 4);
}

void* OwnTypeInfo(const void*) { return nullptr; }

void TypeInfoAddRef(void*) {}

void TypeInfoRelease(void*) {}

std::int32_t TypeInfoIdsOfNames(void*, char16_t**, std::uint32_t, std::int32_t*) { return kNotImplemented; }

std::int32_t TypeInfoInvoke(void*, void*, std::int32_t, std::uint16_t, void*, void*, void*, std::uint32_t*) {
  return kNotImplemented;
}

}  // namespace zel
