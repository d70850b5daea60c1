#include "platform/dynamic_library.h"

#include <windows.h>

#include <string>

namespace zel {

LibraryHandle OpenLibrary(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return nullptr;
  const std::string name(path);
  return reinterpret_cast<LibraryHandle>(LoadLibraryA(name.c_str()));
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace zel
