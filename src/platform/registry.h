// The classes root of the registry (HKEY_CLASSES_ROOT) and the registration
// of the library's own type library. Windows only: POSIX has no registry,
// and its library has no registration functions.
#pragma once

#include <string_view>

namespace zel {

// Creates `key` (a path below the classes root, parts separated by "\")
// with its parents; ClassesValueSet also sets the text value `name` of the
// key ("" names its default value). Return false on failure.
bool ClassesKeyCreate(std::string_view key);
bool ClassesValueSet(std::string_view key, std::string_view name, std::string_view value);

// Removes `key` with all its subkeys and values. Returns true when the key
// is gone (or never was there).
bool ClassesKeyRemoveTree(std::string_view key);

// Removes `key` when it has no subkeys left, and the value `name` of a key.
// Return true when nothing is left to remove.
bool ClassesKeyRemoveIfEmpty(std::string_view key);
bool ClassesValueRemove(std::string_view key, std::string_view name);

// Registers and unregisters the type library of the library's own file.
// Unregistering a library that is not registered succeeds.
bool RegisterOwnTypeLibrary();
bool UnregisterOwnTypeLibrary();

}  // namespace zel
