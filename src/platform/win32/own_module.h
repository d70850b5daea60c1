// The module (DLL or program) this code is linked into: its resources hold
// the dialog templates and its instance owns the window classes.
#pragma once

#include <windows.h>

#include <string>

namespace zel {

HMODULE OwnModule();

// The path of OwnModule's file as UTF-16, as the COM functions take it;
// empty when it cannot be told.
std::wstring OwnModuleWidePath();

}  // namespace zel
