// MD5 message digest (RFC 1321), used for the APOP login.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

inline constexpr std::size_t kMd5DigestSize = 16;

// Incremental digest: update() any number of times, then finish() once.
class Md5 {
 public:
  Md5();
  void update(const void* data, std::size_t length);
  // Writes the 16-byte digest; the object must not be updated afterwards.
  void finish(unsigned char digest[kMd5DigestSize]);

 private:
  void block(const unsigned char* p);
  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  // bytes hashed so far
  unsigned char buffer_[64];
};

// md5Hex: digest of `data` as 32 lower-case hexadecimal digits (the form
// the APOP command sends).
std::string md5Hex(std::string_view data);

}  // namespace zel
