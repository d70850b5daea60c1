// RecvProgress: the progress record of one retrieved message, as the POP3
// client sends it to the progress dialog (WM_COPYDATA, tag 5, 2056 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

// WM_COPYDATA identifier and size of the record.
inline constexpr std::uint32_t kRecvProgressId = 5;
inline constexpr std::size_t kRecvProgressSize = 2056;
// Subject and sender fields: one message line each, NUL included.
inline constexpr std::size_t kProgressTextSize = 1024;

#pragma pack(push, 1)
struct RecvProgress {
  std::int32_t totalCount;      // STAT count of the listing
  std::int32_t retrievedCount;  // retrievals so far, this one included
  char subject[kProgressTextSize];  // decoded Shift-JIS, NUL-terminated
  char from[kProgressTextSize];     // decoded Shift-JIS, NUL-terminated
};
#pragma pack(pop)
static_assert(sizeof(RecvProgress) == kRecvProgressSize, "record layout");

}  // namespace zel
