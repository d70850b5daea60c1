// The profile file's counters, over the backend's UpdateProfileCounter.
#include <optional>

#include "platform/profile_file.h"

namespace zel {

bool ReserveProfileCounter(std::string_view section, std::string_view key, int modulo, int count,
                           int& first) {
  first = 0;
  return UpdateProfileCounter(section, key, [&](long long n) {
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
  return UpdateProfileCounter(section, key, [&](long long n) {
    return n == end ? std::optional<long long>(last) : std::nullopt;
  });
}

}  // namespace zel
