// Threads that take part in the window-message layer.
#pragma once

#include <cstdint>

namespace zel {

// A started thread; 0 = none.
using ThreadHandle = std::uintptr_t;

// Starts a thread running body(argument) with the default stack size.
// Returns 0 when it cannot be started.
ThreadHandle StartThread(void (*body)(void*), void* argument);

// Waits until `thread` has ended, handling the messages other threads send
// to the calling thread meanwhile (so a thread blocked sending to the
// caller's windows can finish), then releases the handle.
void JoinThread(ThreadHandle thread);

// Releases `thread` without waiting for it; it runs to its end on its own.
void ReleaseThread(ThreadHandle thread);

}  // namespace zel
