#include "ops/display_name.h"

#include <cstdio>

#include "codec/sjis_text.h"
#include "platform/file_ops.h"
#include "platform/path.h"
#include "platform/profile_file.h"

namespace zel {

int NextDisplayName(std::string_view folder, std::string& path, TextFile& display) {
  for (int attempt = 0; attempt < kDisplayNameModulo; ++attempt) {
    int number = 0;
    if (!NextProfileCounter("zelsend", "count", kDisplayNameModulo, number)) {
      path = ProfileFilePath();
      return 0;
    }
    char name[16];
    std::snprintf(name, sizeof name, "zel%05d.wml", number);
    path = JoinPath(folder, name);
    if (path.size() >= kPathSize) return -1;
    if (display.Open(path, TextFile::Mode::kCreate)) return 1;
    if (!PathExists(path)) return -1;  // not a name clash: the folder fails
  }
  return -1;
}

}  // namespace zel
