#include "platform/file_privacy.h"

#include <cstdio>

#include "platform/file_ops.h"
#include "platform/text_file.h"

namespace zel {

bool FileIsPrivate(std::string_view /*path*/) { return true; }

TrustedFile ReadTrustedFile(std::string_view path, std::size_t limit, std::string& text) {
  text.clear();
  TrustedFile result;
  result.culprit = std::string(path);
  result.privateFile = true;
  // The folder's access rules decide who may write; only a file on disk
  // is read (OpenHostFile refuses a pipe or a device).
  std::FILE* file = OpenHostFile(path, "r", false);
  if (file == nullptr) {
    result.trust = !PathExists(path)   ? FileTrust::kMissing
                   : IsDirectory(path) ? FileTrust::kNotRegular
                                       : FileTrust::kUnreadable;
    return result;
  }
  result.trust = FileTrust::kTrusted;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (text.size() + n > limit) break;
    text.append(buffer, n);
  }
  if (std::ferror(file) || !std::feof(file)) {
    result.trust = FileTrust::kUnreadable;
    text.clear();
  }
  std::fclose(file);
  return result;
}

std::string TrustFix(const TrustedFile& result) {
  return result.trust == FileTrust::kNotRegular ? "通常のファイルにしてください" : "";
}

}  // namespace zel
