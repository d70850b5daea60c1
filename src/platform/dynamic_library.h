// Loading a library at run time and resolving its exports by name.
#pragma once

#include <string_view>

namespace zel {

using LibraryHandle = void*;

// Loads the library file `path` (host text). A bare name is looked for
// beside the running program first, then the platform's way (as Windows'
// LoadLibrary does). Returns nullptr on failure.
LibraryHandle OpenLibrary(std::string_view path);

// Address of the export `name` of `library`, or nullptr when absent.
void* LibrarySymbol(LibraryHandle library, const char* name);

// Unloads `library` (nullptr is ignored).
void CloseLibrary(LibraryHandle library);

}  // namespace zel
