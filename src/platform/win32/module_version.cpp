#include "platform/module_version.h"

#include <windows.h>

#include <vector>

#include "platform/path_charset.h"
#include "platform/win32/own_module.h"

namespace zel {

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

bool OwnModulePath(std::string& out) {
  out.clear();
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(OwnModule(), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  out.assign(path, n);
  return true;
}

std::wstring OwnModuleWidePath() {
  std::string path;
  std::u16string wide;
  if (!OwnModulePath(path) || !AnsiToUtf16(path, wide)) return {};
  return std::wstring(wide.begin(), wide.end());
}

bool OwnFileVersion(std::uint32_t& high, std::uint32_t& low) {
  high = low = 0;
  std::string path;
  if (!OwnModulePath(path)) return false;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  high = info->dwFileVersionMS;
  low = info->dwFileVersionLS;
  return true;
}

bool OwnResource(const char* type, int id, std::string& out) {
  out.clear();
  const HMODULE module = OwnModule();
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return false;
  out.assign(static_cast<const char*>(bytes), SizeofResource(module, found));
  return true;
}

}  // namespace zel
