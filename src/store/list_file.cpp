#include "store/list_file.h"

#include <cstdio>

#include "platform/path.h"

namespace zel {

namespace {
// Appends `text` with line breaks turned into blanks.
void AppendField(std::string& out, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) out += (*p == '\r' || *p == '\n') ? ' ' : *p;
}
}  // namespace

std::string FormatListLine(std::string_view displayPath, const MessageInfo& info) {
  // Each field is at most 11 digits with its sign, so the date fits.
  char date[96];
  std::snprintf(date, sizeof date, "%04d/%02d/%02d %02d:%02d:%02d", info.date.tm_year + 1900,
                info.date.tm_mon + 1, info.date.tm_mday, info.date.tm_hour, info.date.tm_min,
                info.date.tm_sec);
  std::string line(displayPath);
  line += '\t';
  line += date;
  line += '\t';
  AppendField(line, info.from);
  line += '\t';
  AppendField(line, info.subject);
  line += '\n';
  return line;
}

std::string ReadingCopyPath(std::string_view displayPath) {
  const std::size_t nameStart = FileNamePart(displayPath).data() - displayPath.data();
  const std::size_t dot = displayPath.rfind('.');
  const std::size_t baseEnd =
      dot != std::string_view::npos && dot >= nameStart ? dot : displayPath.size();
  return std::string(displayPath.substr(0, baseEnd)) + ".qml";
}

std::string DisplayPathOf(std::string_view path) {
  if (path.size() < 4) return std::string(path);
  return std::string(path.substr(0, path.size() - 4)) + ".wml";
}

}  // namespace zel
