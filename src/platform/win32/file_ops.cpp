#include "platform/file_ops.h"

#include <windows.h>
#include <bcrypt.h>

#include <string>

#include "platform/win32/own_files.h"

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
  if (!Spell(from, a) || !Spell(to, b)) return false;
  // Only a file on disk is copied: not a pipe, not a device such as NUL.
  const HANDLE source = CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE) return false;
  const bool onDisk = GetFileType(source) == FILE_TYPE_DISK;
  CloseHandle(source);
  if (!onDisk) return false;
  // CopyFile would write through a reparse point at the target: an
  // existing target must be a file of its own.
  std::wstring target;
  if (!WidePath(to, target)) return false;
  const HANDLE existing = OpenOwnHandle(target, 0, OPEN_EXISTING);
  if (existing != INVALID_HANDLE_VALUE) {
    CloseHandle(existing);
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  return CopyFileA(a.c_str(), b.c_str(), FALSE) != 0;
}

bool RenameFileReplace(std::string_view from, std::string_view to) {
  std::string a, b;
  return Spell(from, a) && Spell(to, b) &&
         MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

// A moved file keeps the ACL it inherited in its folder; nothing to adjust.
bool MoveFileToHost(std::string_view from, std::string_view to) { return RenameFileReplace(from, to); }

bool MakeTempBeside(std::string_view path, std::string& out) {
  out.clear();
  std::wstring wide;
  if (!WidePath(path, wide)) return false;
  // Names a stranger cannot guess, so that planting them in advance fails.
  constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  constexpr int kAttempts = 16;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    unsigned char random[8];
    if (BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) return false;
    std::string suffix = ".zel";
    for (const unsigned char r : random) suffix += kLetters[r % (sizeof kLetters - 1)];
    const std::wstring name = wide + std::wstring(suffix.begin(), suffix.end());
    const HANDLE h = OpenOwnHandle(name, GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    CloseHandle(h);
    out = std::string(path) + suffix;
    return true;
  }
  return false;
}

bool SyncFiles(const std::vector<std::string>& files, const std::vector<std::string>& /*folders*/) {
  // NTFS keeps its folders in its journal: the files alone are flushed.
  bool ok = true;
  for (const std::string& path : files) {
    std::wstring wide;
    if (!WidePath(path, wide)) {
      ok = false;
      continue;
    }
    const HANDLE h = OpenOwnHandle(wide, GENERIC_WRITE, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ok = false;  // gone: nothing to flush
      continue;
    }
    if (FlushFileBuffers(h) == 0) ok = false;
    CloseHandle(h);
  }
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
