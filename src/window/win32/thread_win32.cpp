// Threads on Windows: CreateThread; joining handles sent messages while it
// waits (MsgWaitForMultipleObjects).
#include "window/thread.h"

#include <windows.h>

#include <memory>

namespace zel {
namespace {

struct Start {
  void (*body)(void*);
  void* argument;
};

DWORD WINAPI Trampoline(LPVOID parameter) {
  const std::unique_ptr<Start> start(static_cast<Start*>(parameter));
  start->body(start->argument);
  return 0;
}

}  // namespace

ThreadHandle StartThread(void (*body)(void*), void* argument) {
  auto start = std::make_unique<Start>(Start{body, argument});
  const HANDLE thread = CreateThread(nullptr, 0, &Trampoline, start.get(), 0, nullptr);
  if (thread == nullptr) return 0;
  start.release();
  return reinterpret_cast<ThreadHandle>(thread);
}

void JoinThread(ThreadHandle thread) {
  if (thread == 0) return;
  const HANDLE handle = reinterpret_cast<HANDLE>(thread);
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) break;  // ended, or failed
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // runs sent messages
  }
  CloseHandle(handle);
}

void ReleaseThread(ThreadHandle thread) {
  if (thread != 0) CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace zel
