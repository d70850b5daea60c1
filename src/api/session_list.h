// The process-wide list of live sessions, in creation order. It owns
// nothing; sessions add and remove themselves. Receive-all finds its session
// through it from the worker thread and the control window.
#pragma once

#include <cstdint>

#include "window/window_handle.h"

namespace zel {

class InetMail;

// Appends `session` at the end of the list.
void SessionListAdd(InetMail* session);

// Removes the first entry that refers to `session` (none: nothing happens).
void SessionListRemove(InetMail* session);

// True when `session` is in the list.
bool SessionListContains(const InetMail* session);

// The first session whose controlWindow is `window`, or nullptr.
InetMail* SessionForControlWindow(WindowHandle window);

// Number of live sessions.
int SessionListSize();

// Entry of the receive-all worker thread; `session` is the InetMail. Runs
// its worker body when the session is still in the list, else nothing.
void RunReceiveAllWorker(void* session);

// Window procedure of the control window class: the first session whose
// controlWindow is `window` handles the message; without one (while the
// window is being created) the default procedure does.
std::intptr_t ControlWindowProcedure(WindowHandle window, unsigned message,
                                     std::uintptr_t wParam, std::intptr_t lParam);

}  // namespace zel
