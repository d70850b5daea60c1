#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cstring>

#include <string>
#include <vector>

#include "platform/text_file.h"

namespace zel {

std::FILE* OpenHostFile(std::string_view path, const char* mode, bool /*privateFile*/) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return nullptr;
  // Shift-JIS to UTF-16 here, so the C library's own locale plays no part.
  const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (n <= 0) return nullptr;
  std::vector<wchar_t> wide(static_cast<std::size_t>(n) + 1, L'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), wide.data(), n);
  if (std::strchr(mode, 'x') != nullptr) {
    // A new file only: the C library of the system knows no "x" mode.
    HANDLE h = CreateFileW(wide.data(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
      CloseHandle(h);
      return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) _close(fd);
    return file;
  }
  const wchar_t wmode[3] = {static_cast<wchar_t>(mode[0]), mode[1] != '\0' ? static_cast<wchar_t>(mode[1]) : L'\0', L'\0'};
  std::FILE* file = _wfopen(wide.data(), wmode);
  // Only a file on disk is read: not a pipe, not a device such as NUL.
  if (file != nullptr && mode[0] == 'r' &&
      GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool SeekHostFile(std::FILE* file, std::int64_t offset, int whence) {
  return _fseeki64(file, offset, whence) == 0;
}

std::int64_t TellHostFile(std::FILE* file) { return _ftelli64(file); }

}  // namespace zel
