// The system's reason of a failed file or system call, for the reasons a
// host reads (ERRDETAIL): the C library's error number of the calling
// thread and its text in English (ASCII, the same whatever the locale).
#pragma once

#include <string>

namespace zel {

// The C library's error number of the calling thread (errno).
int LastSystemError();
void SetLastSystemError(int error);

// The text of `error` ("No such file or directory"); "" for 0.
std::string SystemErrorText(int error);

// Keeps the calling thread's error number across a scope (the log's
// writes must not replace the reason of the failure they report).
class SystemErrorKeeper {
 public:
  SystemErrorKeeper() : error_(LastSystemError()) {}
  ~SystemErrorKeeper() { SetLastSystemError(error_); }
  SystemErrorKeeper(const SystemErrorKeeper&) = delete;
  SystemErrorKeeper& operator=(const SystemErrorKeeper&) = delete;

 private:
  int error_;
};

}  // namespace zel
