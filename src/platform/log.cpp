#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/format_text.h"
#include "platform/path.h"
#include "platform/sjis_text.h"
#include "platform/system_error.h"
#include "platform/text_file.h"

namespace zel {
namespace {

constexpr const char* kLogFileName = "zelpost.log";
constexpr std::size_t kStampSize = 128;  // "%Y/%m/%d %H:%M:%S" with room to spare

// The path is read by every entry and replaced by LOGDIR; the mutex only
// keeps the copy of the path whole.
std::mutex pathMutex;
// Serialises the writes of the process's threads: on Windows an append
// is a seek to the end and a write, so two threads at once could write
// over each other's text.
std::mutex writeMutex;
char logPath[kPathSize] = {};

// The log's host path; empty when there is none.
std::string CurrentPath() {
  {
    std::lock_guard<std::mutex> lock(pathMutex);
    if (logPath[0] != '\0') return logPath;
  }
  std::string path;
  DefaultLogPath(path);  // leaves `path` empty when there is none
  return path;
}

// Never throws: the log is written from destructors and catch blocks.
bool OpenLog(TextFile& file) {
  try {
    const std::string path = CurrentPath();
    return !path.empty() && file.Open(path, TextFile::Mode::kAppend, /*privateFile=*/true);
  } catch (...) {
    return false;
  }
}

}  // namespace

void LogWhere(const char* sourceFile, int line) {
  const SystemErrorKeeper keep;  // the failure being logged keeps its reason
  const std::lock_guard<std::mutex> serialised(writeMutex);
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
  try {
    file.Printf("%s %.*s%.*s %d ", stamp, static_cast<int>(base.size()), base.data(),
                static_cast<int>(ext.size()), ext.data(), line);
  } catch (...) {
    // No memory: the entry has no prefix, as when the open fails.
  }
  file.Close();
}

void LogText(const char* format, ...) {
  const SystemErrorKeeper keep;
  const std::lock_guard<std::mutex> serialised(writeMutex);
  TextFile file;
  if (!OpenLog(file)) return;
  std::string text;
  va_list args;
  va_start(args, format);
  try {
    if (FormatText(text, format, args)) {
      for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
      }
      file.Write(text);
    }
  } catch (...) {
    // No memory for the text: the entry keeps its prefix and line end.
  }
  va_end(args);
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
