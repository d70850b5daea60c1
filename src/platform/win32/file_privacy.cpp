#include "platform/file_privacy.h"

#include <windows.h>

#include <string>

namespace zel {

TrustedFile ReadTrustedFile(std::string_view path, std::size_t limit, std::string& text) {
  text.clear();
  TrustedFile result;
  result.culprit = std::string(path);
  result.privateFile = true;
  // The folder's access rules decide who may write; only a file on disk
  // is read, never a pipe or a device. The host text is the ANSI code
  // page's, as the A functions take it.
  const HANDLE file = ::CreateFileA(result.culprit.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    result.trust = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileTrust::kMissing
                                                                                  : FileTrust::kUnreadable;
    return result;
  }
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    result.trust = FileTrust::kNotRegular;
    ::CloseHandle(file);
    return result;
  }
  result.trust = FileTrust::kTrusted;
  char buffer[4096];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr) || text.size() + n > limit) {
      result.trust = FileTrust::kUnreadable;
      text.clear();
      break;
    }
    if (n == 0) break;
    text.append(buffer, n);
  }
  ::CloseHandle(file);
  return result;
}

std::string TrustFix(const TrustedFile& result) {
  return result.trust == FileTrust::kNotRegular ? "通常のファイルにしてください" : "";
}

}  // namespace zel
