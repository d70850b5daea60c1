#include "platform/registry.h"

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "platform/win32/own_module.h"

namespace zel {
namespace {

// Opens `key` below the classes root for `access`; nullptr when absent.
HKEY Open(std::string_view key, REGSAM access) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, std::string(key).c_str(), 0, access, &handle) != ERROR_SUCCESS) {
    return nullptr;
  }
  return handle;
}

}  // namespace

bool ClassesKeyCreate(std::string_view key) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, std::string(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

bool ClassesValueSet(std::string_view key, std::string_view name, std::string_view value) {
  if (!ClassesKeyCreate(key)) return false;
  HKEY handle = Open(key, KEY_SET_VALUE);
  if (handle == nullptr) return false;
  const std::string text(value);
  const LONG rc = RegSetValueExA(handle, name.empty() ? nullptr : std::string(name).c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

bool ClassesKeyRemoveTree(std::string_view key) {
  const LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, std::string(key).c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool ClassesKeyRemoveIfEmpty(std::string_view key) {
  HKEY handle = Open(key, KEY_READ);
  if (handle == nullptr) return true;
  DWORD subkeys = 0;
  const LONG rc = RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS || subkeys != 0) return false;
  return RegDeleteKeyA(HKEY_CLASSES_ROOT, std::string(key).c_str()) == ERROR_SUCCESS;
}

bool ClassesValueRemove(std::string_view key, std::string_view name) {
  HKEY handle = Open(key, KEY_SET_VALUE);
  if (handle == nullptr) return true;
  const LONG rc = RegDeleteValueA(handle, std::string(name).c_str());
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool RegisterOwnTypeLibrary() {
  const std::wstring path = OwnModuleWidePath();
  ITypeLib* library = nullptr;
  if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library))) return false;
  library->Release();
  return true;
}

bool UnregisterOwnTypeLibrary() {
  const std::wstring path = OwnModuleWidePath();
  ITypeLib* library = nullptr;
  if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return false;
  TLIBATTR* attributes = nullptr;
  HRESULT hr = library->GetLibAttr(&attributes);
  if (SUCCEEDED(hr)) {
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
  return SUCCEEDED(hr) || hr == TYPE_E_REGISTRYACCESS;
}

}  // namespace zel
