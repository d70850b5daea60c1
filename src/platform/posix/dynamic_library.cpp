#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <string>

#include "platform/path_charset.h"

namespace zel {

LibraryHandle OpenLibrary(std::string_view path) {
  std::string native;
  if (!NativePath(path, native)) return nullptr;
  return ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return ::dlsym(library, name);
}

void CloseLibrary(LibraryHandle library) {
  if (library != nullptr) ::dlclose(library);
}

}  // namespace zel
