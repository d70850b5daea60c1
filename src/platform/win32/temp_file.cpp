#include "platform/temp_file.h"

#include <windows.h>

#include <cstring>

namespace zel {

bool TempDirectory(std::string& out) {
  out.clear();
  char dir[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n >= kPathSize) return false;
  out.assign(dir, n);
  return true;
}

int MakeTempName(char (&out)[kPathSize]) {
  out[0] = '\0';
  std::string dir;
  if (!TempDirectory(dir)) return 0;
  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(dir.c_str(), "zel", 0, name) == 0) return 0;
  if (std::strlen(name) >= kPathSize) {
    DeleteFileA(name);
    return 0;
  }
  std::strcpy(out, name);
  return 1;
}

}  // namespace zel
