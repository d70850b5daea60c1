#include "platform/profile_file.h"

#include <windows.h>

#include <string>

namespace zel {
namespace {

constexpr const char* kProfileName = "zelpost.ini";
// Serialises the counter update between processes of the same session.
constexpr const char* kCounterMutexName = "zelpost.ini.counter";

}  // namespace

std::string ProfileFilePath() { return kProfileName; }

int ProfileInt(std::string_view section, std::string_view key, int fallback) {
  const std::string s(section), k(key);
  return static_cast<int>(GetPrivateProfileIntA(s.c_str(), k.c_str(), fallback, kProfileName));
}

bool WriteProfileText(std::string_view section, std::string_view key, std::string_view value) {
  const std::string s(section), k(key), v(value);
  return WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), kProfileName) != 0;
}

bool NextProfileCounter(std::string_view section, std::string_view key, int modulo, int& next) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kCounterMutexName);
  if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
  long long n = static_cast<long long>(ProfileInt(section, key, 0)) + 1;
  if (modulo > 0 && n >= modulo) n = 0;
  next = static_cast<int>(n);
  const bool ok = WriteProfileText(section, key, std::to_string(next));
  if (mutex != nullptr) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return ok;
}

}  // namespace zel
