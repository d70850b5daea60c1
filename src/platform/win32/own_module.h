// The module (DLL or program) this code is linked into: its resources hold
// the dialog templates and its instance owns the window classes.
#pragma once

#include <windows.h>

namespace zel {

HMODULE OwnModule();

}  // namespace zel
