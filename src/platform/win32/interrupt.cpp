#include "platform/interrupt.h"

#include <windows.h>

namespace zel {
namespace {

// Set by the console's control handler (a thread of its own), an
// auto-reset event: each wait that sees it takes it.
HANDLE interruptEvent = nullptr;
HANDLE wakeEvent = nullptr;  // WakeInterruptWait, auto-reset as well
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
  if (wakeEvent == nullptr) wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return interruptEvent != nullptr && wakeEvent != nullptr &&
         SetConsoleCtrlHandler(Record, TRUE) != 0;
}

bool WaitInterrupt(int timeoutMs) {
  if (interruptEvent == nullptr || wakeEvent == nullptr) return false;
  const HANDLE events[2] = {interruptEvent, wakeEvent};
  return WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

void WakeInterruptWait() {
  if (wakeEvent != nullptr) SetEvent(wakeEvent);
}

}  // namespace zel
