// The library's own file, its version and its resources.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

// Host path of the file that holds this code (the DLL or the .so). Returns
// false when the platform cannot tell.
bool OwnModulePath(std::string& out);

// The file version of the library: `high` = major << 16 | minor,
// `low` = patch << 16 | build. On Windows it is read at run time from the
// VERSIONINFO resource of the library file; on POSIX it is the project
// version compiled in. Returns false when no version can be read.
bool OwnFileVersion(std::uint32_t& high, std::uint32_t& low);

// The bytes of the resource `id` of type `type` (a name such as
// "REGISTRY") in the library's own file. Returns false when there is none
// (always on POSIX, whose libraries carry no resources).
bool OwnResource(const char* type, int id, std::string& out);

}  // namespace zel
