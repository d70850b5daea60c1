// Loading a library at run time and resolving its exports by name.
#pragma once

#include <string_view>

namespace zel {

using LibraryHandle = void*;

// Loads the library file `path` (host text; a bare name is searched the
// platform's way). Returns nullptr on failure.
LibraryHandle OpenLibrary(std::string_view path);

// Address of the export `name` of `library`, or nullptr when absent.
void* LibrarySymbol(LibraryHandle library, const char* name);

// Unloads `library` (nullptr is ignored).
void CloseLibrary(LibraryHandle library);

}  // namespace zel
