#include "platform/system_log.h"

#include <syslog.h>

#include <string>

#include "platform/path_charset.h"

namespace zel {

namespace {
bool opened = false;
}  // namespace

void OpenSystemLog(const char* program) {
  openlog(program, LOG_PID, LOG_MAIL);
  opened = true;
}

void SystemLogLine(std::string_view text, bool failure) {
  if (!opened) return;
  std::string line(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::string native;
  if (!NativePath(line, native)) native = line;  // the system's charset, as file names are
  syslog(failure ? LOG_ERR : LOG_INFO, "%s", native.c_str());
}

}  // namespace zel
