// The library's own file and its version.
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

}  // namespace zel
