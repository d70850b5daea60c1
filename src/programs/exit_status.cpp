#include "programs/exit_status.h"

#include <cstdio>

#include "platform/system_log.h"
#include "programs/connection_options.h"
#include "programs/console_text.h"
#include "programs/zelpost_library.h"
#include "zelpost.h"

namespace zel::sender {

namespace {
// The reason read at most: the library cuts ERRDETAIL to its line size.
constexpr int kDetailSize = 1024;
// Error numbers below this one are the local files' (-1100 and lower).
constexpr int kFirstFileError = -1100;
constexpr int kInitializeMissing = -1000;
}  // namespace

int ExitStatusOf(int errorClass, int errorNumber) {
  switch (errorClass) {
    case ZELPOST_ERRCLASS_NOHOST: return kExitNoHost;
    case ZELPOST_ERRCLASS_REFUSED:
    case ZELPOST_ERRCLASS_TLS:
    case ZELPOST_ERRCLASS_SERVER: return kExitUnavailable;
    case ZELPOST_ERRCLASS_TIMEOUT:
    case ZELPOST_ERRCLASS_TEMPORARY: return kExitTempFail;
    case ZELPOST_ERRCLASS_AUTH: return kExitNoPerm;
    case ZELPOST_ERRCLASS_LOCAL: return kExitIoError;
    case ZELPOST_ERRCLASS_SETTING: return kExitConfig;
    default: break;
  }
  if (errorNumber == kInitializeMissing) return kExitConfig;
  if (errorNumber <= kFirstFileError) return kExitIoError;
  return kExitUnavailable;
}

FailureReason ReadFailureReason(LibraryHandle library) {
  FailureReason reason;
  const auto getValueStr = ZEL_EXPORT(library, zelGetValueStr);
  const auto getValueInt = ZEL_EXPORT(library, zelGetValueInt);
  if (getValueStr != nullptr) {
    char detail[kDetailSize] = {};
    getValueStr("ERRDETAIL", detail, sizeof detail);
    reason.detail = detail;
  }
  if (getValueInt != nullptr) reason.errorClass = getValueInt("ERRCLASS");
  return reason;
}

void PrintFailure(const std::string& classic, const FailureReason& reason) {
  std::string text = "err: " + classic + "\n";
  if (!reason.detail.empty() && reason.detail != classic) text += "詳細: " + reason.detail + "\n";
  SystemLogLine(text, true);
  // An untrusted certificate's detail names it: say how to trust it.
  if (reason.errorClass == ZELPOST_ERRCLASS_TLS && reason.detail.find("SHA-256 ") != std::string::npos) {
    text += kTrustHint;
  }
  PutConsoleText(stderr, text);
}

}  // namespace zel::sender
