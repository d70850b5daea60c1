#include "platform/system_log.h"

#include <windows.h>

#include <string>

namespace zel {

namespace {
HANDLE source = nullptr;
}  // namespace

void OpenSystemLog(const char* program) {
  if (source == nullptr) source = RegisterEventSourceA(nullptr, program);
}

void SystemLogLine(std::string_view text, bool failure) {
  if (source == nullptr) return;
  std::string line(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  const char* strings[] = {line.c_str()};
  ReportEventA(source, failure ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings,
               nullptr);
}

}  // namespace zel
