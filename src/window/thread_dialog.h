// A dialog that another thread of this process shows, as a console program
// watches it (zelrecv watching the library's progress dialog): Windows
// only, through user32. A POSIX program reaches the library's headless
// dialogs through zelpost_ui.h of the loaded library instead, whose
// message layer lives inside that library.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

// The calling thread's identifier, as FindThreadDialog takes it.
std::uint32_t CurrentThreadNumber();

// FindThreadDialog - a dialog window (class "#32770") among the top-level
// windows of the thread `thread`, or 0 when it shows none.
std::uintptr_t FindThreadDialog(std::uint32_t thread);

// DialogItemText - the text of control `id` of `dialog` into `text`.
// Returns false when the dialog or the control no longer exists, or its
// thread does not answer within a second.
bool DialogItemText(std::uintptr_t dialog, int id, std::string& text);

// ClickDialogButton - posts a click of button `id` to `dialog`, as a user's
// click reaches it. Returns false when the dialog no longer exists.
bool ClickDialogButton(std::uintptr_t dialog, int id);

}  // namespace zel
