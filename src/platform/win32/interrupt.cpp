#include "platform/interrupt.h"

#include <windows.h>

namespace zel {
namespace {

// Set by the console's control handler (a thread of its own), an
// auto-reset event: each wait that sees it takes it.
HANDLE interruptEvent = nullptr;
volatile LONG interrupts = 0;

BOOL WINAPI Record(DWORD) {
  // The second event goes to the default handler, which ends the process.
  if (InterlockedIncrement(&interrupts) > 1) return FALSE;
  SetEvent(interruptEvent);
  return TRUE;
}

}  // namespace

bool CatchInterrupt() {
  if (interruptEvent == nullptr) interruptEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return interruptEvent != nullptr && SetConsoleCtrlHandler(Record, TRUE) != 0;
}

bool WaitInterrupt(int timeoutMs) {
  if (interruptEvent == nullptr) return false;
  return WaitForSingleObject(interruptEvent, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

}  // namespace zel
