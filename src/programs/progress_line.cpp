// Progress lines of zelrecv.
#include "programs/progress_line.h"

#include <cstdio>

#include "platform/sjis_text.h"
#include "programs/console_text.h"

namespace zel::sender {
namespace {

// Blanks between the texts of the live line.
constexpr std::string_view kGap = "  ";

// `text` without the blanks around it.
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// `field` without its header name ("Subject: x" gives "x").
std::string_view Value(std::string_view field) {
  const std::size_t colon = field.find(':');
  return Trimmed(colon == std::string_view::npos ? field : field.substr(colon + 1));
}

}  // namespace

int TotalOf(std::string_view counts) {
  const std::size_t slash = counts.find('/');
  int total = 0;
  if (slash == std::string_view::npos) return 0;
  for (char c : counts.substr(slash + 1)) {
    if (c >= '0' && c <= '9') total = total * 10 + (c - '0');
    if (total > 1'000'000) return 0;  // no count of a maildrop
  }
  return total;
}

std::string CountsText(int current, int total) {
  char text[32];
  std::snprintf(text, sizeof text, "%3d / %3d", current, total);
  return text;
}

std::string LiveLine(const ProgressTexts& texts, std::size_t width, std::size_t* columns) {
  std::string line = texts.counts;
  for (const std::string* text : {&texts.subject, &texts.sender}) {
    if (const std::string_view shown = Trimmed(*text); !shown.empty()) line.append(kGap).append(shown);
  }
  line.resize(SjisPrefixLength(line, width));
  *columns = line.size();
  return ConsoleDisplayText(line);
}

bool ListLineTexts(std::string_view line, std::string& subject, std::string& sender) {
  std::string_view fields[4];
  for (int i = 0; i < 3; ++i) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  fields[3] = line;
  sender = Value(fields[2]);
  subject = Value(fields[3]);
  return true;
}

std::string PlainLine(int number, std::string_view subject, std::string_view sender) {
  return std::to_string(number) + "\t" + ConsoleDisplayText(subject) + "\t" +
         ConsoleDisplayText(sender) + "\n";
}

}  // namespace zel::sender
