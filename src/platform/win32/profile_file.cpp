#include "platform/profile_file.h"

#include <windows.h>

#include <optional>
#include <string>

namespace zel {
namespace {

constexpr const char* kProfileName = "zelpost.ini";
// Serialises the counter update between processes of the same session.
constexpr const char* kCounterMutexName = "zelpost.ini.counter";

// Reads the counter at section/key under the counter's mutex and stores
// what `step` makes of it (nothing when `step` gives none).
// Returns false when the new value cannot be written.
template <class Step>
bool UpdateCounter(std::string_view section, std::string_view key, Step step) {
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

bool ReserveProfileCounter(std::string_view section, std::string_view key, int modulo, int count,
                           int& first) {
  first = 0;
  return UpdateCounter(section, key, [&](long long n) {
    // One step at a time, as the numbers are handed out: a stored value at
    // or past the modulo wraps to 0.
    const auto step = [modulo](long long v) { return modulo > 0 && v + 1 >= modulo ? 0LL : v + 1; };
    n = step(n);
    first = static_cast<int>(n);
    for (int i = 1; i < count; ++i) n = step(n);
    return std::optional<long long>(n);
  });
}

bool ReleaseProfileCounter(std::string_view section, std::string_view key, int end, int last) {
  return UpdateCounter(section, key, [&](long long n) {
    return n == end ? std::optional<long long>(last) : std::nullopt;
  });
}

}  // namespace zel
