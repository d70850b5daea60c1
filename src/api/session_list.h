// The process-wide list of live sessions, in creation order. It owns
// nothing; sessions add and remove themselves. Receive-all finds its session
// through it from the worker thread and the control window.
#pragma once

#include "net/recv_progress.h"

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

}  // namespace zel
