#include "platform/profile_file.h"

#include <windows.h>

#include <functional>
#include <optional>
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

bool UpdateProfileCounter(std::string_view section, std::string_view key,
                          const std::function<std::optional<long long>(long long)>& step) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kCounterMutexName);
  if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
  const std::optional<long long> next = step(static_cast<long long>(ProfileInt(section, key, 0)));
  const bool ok = !next || WriteProfileText(section, key, std::to_string(*next));
  if (mutex != nullptr) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return ok;
}

}  // namespace zel
