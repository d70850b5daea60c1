#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cstring>

#include <string>

#include "platform/text_file.h"
#include "platform/win32/own_files.h"

namespace zel {

std::FILE* OpenHostFile(std::string_view path, const char* mode, bool /*privateFile*/) {
  std::wstring wide;
  if (!WidePath(path, wide)) return nullptr;
  if (mode[0] == 'r') {
    std::FILE* file = _wfopen(wide.c_str(), L"rb");
    // Only a file on disk is read: not a pipe, not a device such as NUL.
    if (file != nullptr && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
      std::fclose(file);
      return nullptr;
    }
    return file;
  }
  // Written only through a handle that reached the file itself, not a
  // reparse point; the file is cut only after that check.
  const bool exclusive = std::strchr(mode, 'x') != nullptr;
  const HANDLE h = OpenOwnHandle(wide, GENERIC_WRITE, exclusive ? CREATE_NEW : OPEN_ALWAYS);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (mode[0] == 'w' && !exclusive && SetEndOfFile(h) == 0) {
    CloseHandle(h);
    return nullptr;
  }
  const bool append = mode[0] == 'a';
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY | (append ? _O_APPEND : 0));
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, append ? "ab" : "wb");
  if (file == nullptr) _close(fd);
  return file;
}

bool SeekHostFile(std::FILE* file, std::int64_t offset, int whence) {
  return _fseeki64(file, offset, whence) == 0;
}

std::int64_t TellHostFile(std::FILE* file) { return _ftelli64(file); }

bool LockHostFile(std::FILE* file, bool lock) {
  return LockHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), lock, true);
}

std::int64_t HostFileSize(std::FILE* file) {
  LARGE_INTEGER size;
  if (GetFileSizeEx(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &size) == 0) return -1;
  return size.QuadPart;
}

bool CloseHostFileAt(std::FILE* file, std::int64_t size) {
  // The copy keeps the file open past fclose, which may still hand the
  // buffered rest of a failed record to the OS; the cut comes after it.
  HANDLE copy = INVALID_HANDLE_VALUE;
  const HANDLE process = GetCurrentProcess();
  const bool duplicated = DuplicateHandle(process, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))),
                                          process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) != 0;
  std::fclose(file);
  if (!duplicated) return false;
  LARGE_INTEGER at;
  at.QuadPart = size;
  const bool cut = SetFilePointerEx(copy, at, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(copy) != 0;
  CloseHandle(copy);
  return cut;
}

}  // namespace zel
