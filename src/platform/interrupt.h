// Ctrl-C as an event a thread of a console program waits for, so that the
// program ends its work in order instead of being ended on the spot.
#pragma once

namespace zel {

// CatchInterrupt - from now on the first interrupt is only recorded: Ctrl-C
// (SIGINT), and on POSIX also SIGTERM and SIGHUP; on Windows the console's
// Ctrl-C, Ctrl-Break and close events. A second one ends the process as it
// would have without this call. Call it once; returns false when the
// handler could not be installed.
bool CatchInterrupt();

// WaitInterrupt - waits up to `timeoutMs` milliseconds for an interrupt.
// Returns true once for each recorded interrupt (one caught before the
// call included), false on time-out or when WakeInterruptWait woke it. For
// one thread at a time.
bool WaitInterrupt(int timeoutMs);

// WakeInterruptWait - ends the current (or the next) WaitInterrupt at once
// without an interrupt, so that its thread can see that it is to stop.
// Any thread may call it after CatchInterrupt.
void WakeInterruptWait();

}  // namespace zel
