#include "store/display_name.h"

#include <algorithm>
#include <cstdio>

#include "platform/file_ops.h"
#include "platform/path.h"
#include "platform/profile_file.h"
#include "platform/sjis_text.h"

namespace zel {

namespace {
constexpr const char* kSection = "zelsend";
constexpr const char* kKey = "count";
}  // namespace

int DisplayNameBlock::Next(std::string_view folder, int wanted, std::string& path, TextFile& display) {
  for (int attempt = 0; attempt < kDisplayNameModulo; ++attempt) {
    if (left_ == 0) {
      const int count = std::clamp(wanted, 1, kMaxDisplayNameReserve);
      int first = 0;
      if (!ReserveProfileCounter(kSection, kKey, kDisplayNameModulo, count, first)) {
        path = ProfileFilePath();
        return 0;
      }
      next_ = first;
      left_ = count;
      end_ = (first + count - 1) % kDisplayNameModulo;
    }
    const int number = next_;
    next_ = (next_ + 1) % kDisplayNameModulo;
    --left_;
    last_ = number;
    char name[16];
    std::snprintf(name, sizeof name, "zel%05d.wml", number);
    path = JoinPath(folder, name);
    if (path.size() >= kPathSize) return -1;
    if (display.Open(path, TextFile::Mode::kCreate)) return 1;
    if (!PathExists(path)) return -1;  // not a name clash: the folder fails
  }
  return -1;
}

void DisplayNameBlock::Release() {
  if (left_ > 0) ReleaseProfileCounter(kSection, kKey, end_, last_);
  left_ = 0;
}

}  // namespace zel
