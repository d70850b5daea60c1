#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "platform/path_charset.h"

namespace zel {

namespace {

// Folder of the running program with its trailing '/', or "" when unknown.
std::string ProgramFolder() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  const std::string program(buffer, static_cast<std::size_t>(n));
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

}  // namespace

LibraryHandle OpenLibrary(std::string_view path) {
  std::string native;
  if (!NativePath(path, native)) return nullptr;
  constexpr int kFlags = RTLD_NOW | RTLD_LOCAL;
  // The program's own run path is not enough: under a sanitizer's dlopen
  // wrapper the caller is the sanitizer library, whose run path is used.
  if (native.find('/') == std::string::npos) {
    const std::string folder = ProgramFolder();
    if (!folder.empty()) {
      if (LibraryHandle beside = ::dlopen((folder + native).c_str(), kFlags)) return beside;
    }
  }
  return ::dlopen(native.c_str(), kFlags);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return ::dlsym(library, name);
}

void CloseLibrary(LibraryHandle library) {
  if (library != nullptr) ::dlclose(library);
}

}  // namespace zel
