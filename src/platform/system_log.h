// The system log of the console programs' result lines (--syslog): syslog
// on POSIX (facility mail), the Application event log on Windows.
#pragma once

#include <string_view>

namespace zel {

// OpenSystemLog - names the program the entries come from; entries are
// written only after this call.
void OpenSystemLog(const char* program);

// SystemLogLine - writes one entry (Shift-JIS text, as the programs' lines
// are); `failure` marks an error entry. Does nothing before OpenSystemLog.
void SystemLogLine(std::string_view text, bool failure);

}  // namespace zel
