// The handle of a window of the message layer.
#pragma once

#include <cstdint>

namespace zel {

// A Win32 HWND on Windows; a 32-bit handle of the in-process message layer
// on POSIX. 0 means no window.
using WindowHandle = std::uintptr_t;

}  // namespace zel
