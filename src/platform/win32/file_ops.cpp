#include "platform/file_ops.h"

#include <windows.h>

#include <string>

namespace zel {
namespace {

bool Spell(std::string_view path, std::string& out) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  out.assign(path);
  return true;
}

}  // namespace

bool DeleteFileAt(std::string_view path) {
  std::string p;
  return Spell(path, p) && DeleteFileA(p.c_str()) != 0;
}

bool CopyFileReplace(std::string_view from, std::string_view to) {
  std::string a, b;
  return Spell(from, a) && Spell(to, b) && CopyFileA(a.c_str(), b.c_str(), FALSE) != 0;
}

bool RenameFileReplace(std::string_view from, std::string_view to) {
  std::string a, b;
  return Spell(from, a) && Spell(to, b) &&
         MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

// A moved file keeps the ACL it inherited in its folder; nothing to adjust.
bool MoveFileToHost(std::string_view from, std::string_view to) { return RenameFileReplace(from, to); }

std::int64_t FileSizeAt(std::string_view path) {
  std::string p;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!Spell(path, p) || GetFileAttributesExA(p.c_str(), GetFileExInfoStandard, &data) == 0) {
    return -1;
  }
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

bool TruncateFileAt(std::string_view path, std::int64_t size) {
  std::string p;
  if (size < 0 || !Spell(path, p)) return false;
  HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = size;
  const bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(h) != 0;
  CloseHandle(h);
  return ok;
}

bool PathExists(std::string_view path) {
  std::string p;
  return Spell(path, p) && GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(std::string_view path) {
  std::string p;
  if (!Spell(path, p)) return false;
  const DWORD attributes = GetFileAttributesA(p.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace zel
