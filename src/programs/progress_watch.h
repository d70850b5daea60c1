// The watcher thread of zelrecv: follows the progress dialog while the
// main thread runs zelRecvMailAll (and pumps the dialog's messages), and
// turns Ctrl-C into a press of the dialog's Cancel button.
#pragma once

#include <atomic>

#include "programs/dialog_access.h"
#include "programs/progress_view.h"

namespace zel::sender {

// How often the dialog is read: often enough for the eye, far less often
// than a fast run changes it.
inline constexpr int kWatchIntervalMs = 50;

// WatchProgress - the watcher thread's body. Until `done` is set it reads
// the dialog every kWatchIntervalMs, hands each change to `view` and lets
// it poll the list file. After an interrupt (platform/interrupt.h, caught
// by the caller) it presses Cancel once, as soon as the dialog exists; the
// signal handler itself only records the interrupt.
void WatchProgress(const DialogAccess& access, ProgressView& view,
                   const std::atomic<bool>& done);

}  // namespace zel::sender
