#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "codec/sjis_text.h"
#include "platform/clock.h"
#include "platform/path.h"
#include "platform/text_file.h"

namespace zel {
namespace {

#ifdef _WIN32
constexpr const char* kDefaultLogPath = "c:\\temp\\zelpost.log";
#else
constexpr const char* kDefaultLogPath = "/tmp/zelpost.log";
#endif
constexpr const char* kLogFileName = "zelpost.log";
constexpr std::size_t kStampSize = 128;  // "%Y/%m/%d %H:%M:%S" with room to spare

// The path is read by every entry and replaced by LOGDIR; the mutex only
// keeps the copy of the path whole (entries themselves are not serialised).
std::mutex pathMutex;
char logPath[kPathSize] = {};

std::string CurrentPath() {
  std::lock_guard<std::mutex> lock(pathMutex);
  if (logPath[0] == '\0') return kDefaultLogPath;
  return logPath;
}

bool OpenLog(TextFile& file) {
  return file.Open(CurrentPath(), TextFile::Mode::kAppend, /*noFollow=*/true);
}

}  // namespace

void LogWhere(const char* sourceFile, int line) {
  TextFile file;
  const bool opened = OpenLog(file);
  char stamp[kStampSize] = {};
  std::tm now{};
  if (LocalTime(CalendarTime(), now)) std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &now);
  if (!opened) return;
  // The module is named by its file name and extension, without directory.
  const std::string_view path = sourceFile != nullptr ? sourceFile : "";
  const std::size_t slash = path.find_last_of("/\\");
  const std::string_view file_name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = file_name.rfind('.');
  const std::string_view base = dot == std::string_view::npos ? file_name : file_name.substr(0, dot);
  const std::string_view ext = dot == std::string_view::npos ? std::string_view() : file_name.substr(dot);
  file.Printf("%s %.*s%.*s %d ", stamp, static_cast<int>(base.size()), base.data(),
              static_cast<int>(ext.size()), ext.data(), line);
  file.Close();
}

void LogText(const char* format, ...) {
  TextFile file;
  if (!OpenLog(file)) return;
  char small[1024];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    file.Write(std::string_view(small, static_cast<std::size_t>(n)));
  } else if (n >= 0) {
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    file.Write(std::string_view(big.data(), static_cast<std::size_t>(n)));
  }
  va_end(copy);
  file.Write("\n");
  file.Close();
}

void SetLogDirectory(std::string_view dir) {
  std::string path(dir);
  path += kPathSeparator;
  path += kLogFileName;
  if (path.size() >= kPathSize) return;  // would not fit: keep the old path
  std::lock_guard<std::mutex> lock(pathMutex);
  CopyBounded(logPath, path);
}

}  // namespace zel
