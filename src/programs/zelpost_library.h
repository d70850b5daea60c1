// Loading the zelpost library at run time, as zelsend and zelrecv do: they
// link nothing of it and resolve the functions they use by name.
#pragma once

#include "platform/dynamic_library.h"

namespace zel::sender {

// The library's name in messages: "zelpost.dll", or "libzelpost.so".
extern const char kLibraryName[];

// OpenZelpost - loads the library: its run-time name (the SONAME on
// Linux), then the link name, each next to the program, through the run
// path (the build folder, or the lib folder of an installed copy) and the
// library path. Returns nullptr when none loads.
LibraryHandle OpenZelpost();

// PrintVersion - "<program> <version>" and, when the library loads, its own
// version text in parentheses, on standard output.
void PrintVersion(const char* program);

// Symbol - the export `name` of `library` as a function pointer of type
// `Fn`, or nullptr when absent.
template <class Fn>
Fn Symbol(LibraryHandle library, const char* name) {
  return reinterpret_cast<Fn>(LibrarySymbol(library, name));
}

}  // namespace zel::sender

// ZEL_EXPORT(library, zelInitialize) - that export of `library` as a pointer
// of the type its public header declares, or nullptr when absent.
#define ZEL_EXPORT(library, name) ::zel::sender::Symbol<decltype(&::name)>(library, #name)
