// A temporary file that never outlives the call that made it.
#pragma once

#include "platform/file_ops.h"

namespace zel {

// Deletes the file at `path` (a field the caller fills, empty for none)
// when the guard goes, whatever the path out of the call.
class TempFileGuard {
 public:
  explicit TempFileGuard(const char* path) : path_(path) {}
  ~TempFileGuard() {
    if (path_[0] != '\0') DeleteFileAt(path_);
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

 private:
  const char* path_;
};

}  // namespace zel
