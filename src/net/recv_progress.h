// RecvProgress: the progress record the POP3 client sends to the progress
// window once per retrieved message (WM_COPYDATA, identifier 5, 2056 bytes).
//
// The window-message layer installs the sender with SetProgressSender; until
// then (and when none is installed) records are filled but go nowhere.
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

// A window handle of the message layer (0 = none).
using WindowHandle = std::uintptr_t;

// Delivers `record` to `window` synchronously (the call returns when the
// window has handled it); the record is valid only during the call.
using ProgressSender = void (*)(WindowHandle window, const RecvProgress& record);

// Installs the process-wide sender (nullptr removes it). Returns the old one.
ProgressSender SetProgressSender(ProgressSender sender);

// Sends `record` to `window` through the installed sender; does nothing when
// `window` is 0 or no sender is installed.
void SendProgress(WindowHandle window, const RecvProgress& record);

// Fills `record` from the counts and the raw captured Subject and From
// values, each decoded to Shift-JIS and cut to its field.
void FillRecvProgress(RecvProgress& record, int totalCount, int retrievedCount,
                      const char* rawSubject, const char* rawFrom);

}  // namespace zel
