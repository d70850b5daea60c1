// How the console programs end after a failure: the exit statuses of
// sysexits.h, chosen from the kind of failure the library reports, and the
// reason printed after the classic error line.
#pragma once

#include <string>

#include "platform/dynamic_library.h"

namespace zel::sender {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;        // EX_USAGE: a wrong command line
inline constexpr int kExitDataErr = 65;      // EX_DATAERR: a recipient refused for good
inline constexpr int kExitNoHost = 68;       // EX_NOHOST: the server's name does not resolve
inline constexpr int kExitUnavailable = 69;  // EX_UNAVAILABLE: refused, TLS failed, no library
inline constexpr int kExitIoError = 74;      // EX_IOERR: a local file
inline constexpr int kExitTempFail = 75;     // EX_TEMPFAIL: time-out, temporary failure
inline constexpr int kExitNoPerm = 77;       // EX_NOPERM: login or authentication refused
inline constexpr int kExitConfig = 78;       // EX_CONFIG: a missing or unusable setting
inline constexpr int kExitInterrupted = 130;  // as a shell reports a process ended by SIGINT

// ExitStatusOf - the exit status of a failed operation from the library's
// ERRCLASS and, when it tells nothing, its error number.
int ExitStatusOf(int errorClass, int errorNumber);

// Why the library's last operation failed: ERRDETAIL and ERRCLASS, read
// through the library's exports (empty and 0 when it lacks them).
struct FailureReason {
  std::string detail;  // Shift-JIS
  int errorClass = 0;
};
FailureReason ReadFailureReason(LibraryHandle library);

// PrintFailure - writes the classic error line "err: <classic>" and, when
// the reason says more, "詳細: <detail>" to standard error (Shift-JIS texts
// in the console's character set).
void PrintFailure(const std::string& classic, const FailureReason& reason);

}  // namespace zel::sender
