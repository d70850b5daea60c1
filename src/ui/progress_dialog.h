// The progress dialogs of receive-all: ReceiveProgressDialog (resource 229)
// and ProgressBarDialog (resource 232, with a progress bar).
//
// Both show the counts "%3d / %3d" (current, total), the subject and the
// sender of the message being fetched, and report Cancel to their notify
// window. They take:
//  - kProgressNotify with wParam kNotifyTotal and the total in lParam (from
//    the control window): counts 0 and total, the bar's range 0..total;
//  - WM_COPYDATA with a RecvProgress record (tag 5, exactly 2056 bytes;
//    anything else is ignored): counts, subject, sender, the bar's position.
// Cancel posts kProgressNotify with wParam kNotifyCancel and lParam 0 to the
// notify window and destroys the dialog. A dialog frees itself when its
// window is destroyed.
#pragma once

#include "window/window.h"

namespace zel {

// 1125: the total to the dialog (kNotifyTotal), Cancel from it (kNotifyCancel).
inline constexpr unsigned kProgressNotify = kWmUser + 101;
inline constexpr MessageParam kNotifyCancel = 2;
inline constexpr MessageParam kNotifyTotal = 4;

// Creates and shows the progress dialog of `executeType` (1:
// ReceiveProgressDialog, any other value: ProgressBarDialog) on the calling
// thread, modeless, centred on the desktop, with `notifyWindow` as parent
// and notify window. Returns its handle, or 0 when it cannot be created.
WindowHandle CreateProgressDialog(WindowHandle notifyWindow, int executeType);

}  // namespace zel
