// DllRegisterServer and DllUnregisterServer (Windows only): the keys of the
// registration script (REGISTRY resource 203) and the type library.
#include <string>
#include <vector>

#include "automation/com_module.h"
#include "automation/registry_script.h"
#include "platform/module_version.h"
#include "platform/registry.h"

namespace zel::com {
namespace {

constexpr int kRegistryResource = 203;
constexpr HResult kClassRegistrationFailed = static_cast<HResult>(0x80040201);    // SELFREG_E_CLASS
constexpr HResult kTypeLibraryRegistrationFailed = static_cast<HResult>(0x80040200);  // SELFREG_E_TYPELIB

// The keys of the script with the library's path filled in.
bool ScriptKeys(std::vector<RegistryKey>& keys) {
  std::string script, path;
  return OwnResource("REGISTRY", kRegistryResource, script) && OwnModulePath(path) &&
         ReadRegistryScript(script, path, keys);
}

bool Register(const std::string& parent, const RegistryKey& key) {
  const std::string path = parent.empty() ? key.name : parent + "\\" + key.name;
  if (key.removal == Removal::kForceRemove && !ClassesKeyRemoveTree(path)) return false;
  bool ok = key.hasDefault ? ClassesValueSet(path, "", key.defaultValue) : ClassesKeyCreate(path);
  for (const auto& [name, value] : key.values) ok = ok && ClassesValueSet(path, name, value);
  for (const RegistryKey& sub : key.subkeys) ok = ok && Register(path, sub);
  return ok;
}

// Removes what Register wrote: a ForceRemove key with all its content, a
// normal key once its subkeys are gone, a NoRemove key never (only what is
// below it).
bool Unregister(const std::string& parent, const RegistryKey& key) {
  const std::string path = parent.empty() ? key.name : parent + "\\" + key.name;
  if (key.removal == Removal::kForceRemove) return ClassesKeyRemoveTree(path);
  bool ok = true;
  for (const RegistryKey& sub : key.subkeys) ok = Unregister(path, sub) && ok;
  if (key.removal == Removal::kNoRemove) return ok;
  for (const auto& value : key.values) ok = ClassesValueRemove(path, value.first) && ok;
  return ClassesKeyRemoveIfEmpty(path) && ok;
}

}  // namespace
}  // namespace zel::com

using zel::com::HResult;

extern "C" {

// Writes the registration entries and registers the type library. S_OK, or
// SELFREG_E_CLASS / SELFREG_E_TYPELIB.
HResult ZEL_COM_CALL DllRegisterServer(void) {
  using namespace zel::com;
  try {
    std::vector<RegistryKey> keys;
    if (!ScriptKeys(keys)) return kClassRegistrationFailed;
    for (const RegistryKey& key : keys) {
      if (!Register("", key)) return kClassRegistrationFailed;
    }
    return zel::RegisterOwnTypeLibrary() ? kOk : kTypeLibraryRegistrationFailed;
  } catch (...) {
    return kClassRegistrationFailed;
  }
}

// Removes the registration entries (the "CLSID" key itself stays) and
// unregisters the type library. S_OK, or SELFREG_E_CLASS /
// SELFREG_E_TYPELIB.
HResult ZEL_COM_CALL DllUnregisterServer(void) {
  using namespace zel::com;
  try {
    std::vector<RegistryKey> keys;
    if (!ScriptKeys(keys)) return kClassRegistrationFailed;
    bool ok = true;
    for (const RegistryKey& key : keys) ok = Unregister("", key) && ok;
    if (!zel::UnregisterOwnTypeLibrary()) return kTypeLibraryRegistrationFailed;
    return ok ? kOk : kClassRegistrationFailed;
  } catch (...) {
    return kClassRegistrationFailed;
  }
}

}  // extern "C"
