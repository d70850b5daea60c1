// Loading the zelpost library for the console programs.
#include "programs/zelpost_library.h"

#include <cstdio>
#include <string>

#include "programs/console_text.h"
#include "zelpost.h"

namespace zel::sender {
namespace {

#ifdef _WIN32
const char* const kLibraryFiles[] = {"zelpost.dll"};
#else
// The run-time name (the SONAME, all an installed run-time copy has) first;
// the link name serves a library put beside the program by hand.
const char* const kLibraryFiles[] = {ZELPOST_SONAME, "libzelpost.so"};
#endif

}  // namespace

#ifdef _WIN32
const char kLibraryName[] = "zelpost.dll";
#else
const char kLibraryName[] = "libzelpost.so";
#endif

LibraryHandle OpenZelpost() {
  for (const char* file : kLibraryFiles) {
    if (LibraryHandle library = OpenLibrary(file)) return library;
  }
  return nullptr;
}

void PrintVersion(const char* program) {
  std::string text = std::string(program) + " " + ZELPOST_VERSION_TEXT;
  if (const LibraryHandle library = OpenZelpost()) {
    char version[64] = {};  // zelVersion writes at most 34 bytes
    if (const auto get = ZEL_EXPORT(library, zelVersion)) {
      get(version, sizeof version);
      text += std::string(" (") + version + ")";
    }
    CloseLibrary(library);
  }
  PutConsoleText(stdout, text + "\n");
}

}  // namespace zel::sender
