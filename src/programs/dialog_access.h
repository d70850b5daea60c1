// How zelrecv reaches the progress dialog that zelRecvMailAll shows on the
// thread that calls it: through the message layer's zelui* exports of the
// loaded library on POSIX, through user32 on Windows.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/dynamic_library.h"
#include "programs/progress_line.h"

namespace zel::sender {

struct DialogAccess {
  // The progress dialog of the receiving thread, 0 when it shows none.
  std::function<std::uintptr_t()> find;
  // Reads its counts, subject and sender; false once it is gone.
  std::function<bool(std::uintptr_t dialog, ProgressTexts& texts)> read;
  // Presses its Cancel button (the click is handled on its thread).
  std::function<bool(std::uintptr_t dialog)> cancel;
};

// DialogAccessForThisThread - the access to the dialogs of the calling
// thread, the one that is to call zelRecvMailAll, in `library`. Returns
// false when the library lacks a function it needs (POSIX).
bool DialogAccessForThisThread(LibraryHandle library, DialogAccess& access);

}  // namespace zel::sender
