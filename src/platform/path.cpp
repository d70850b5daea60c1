#include "platform/path.h"

#include "platform/sjis_text.h"

namespace zel {

std::size_t LastSeparator(std::string_view path) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
#ifdef _WIN32
    if (IsSjisLead(c) && i + 1 < path.size()) {
      ++i;  // the trail byte may be 0x5C and is not a separator
      continue;
    }
#endif
    if (c == static_cast<unsigned char>(kPathSeparator)) last = i;
  }
  return last;
}

std::string_view FileNamePart(std::string_view path) {
  const std::size_t sep = LastSeparator(path);
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

std::string FolderPart(std::string_view path) {
  const std::size_t sep = LastSeparator(path);
  if (sep == std::string_view::npos) return ".";
  return std::string(path.substr(0, sep == 0 ? 1 : sep));
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty()) out += kPathSeparator;
  out += name;
  return out;
}

}  // namespace zel
