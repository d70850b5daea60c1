#include "platform/profile_text.h"

#include <utility>
#include <vector>

#include "platform/ascii_case.h"

namespace zel {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos) {
      lines.push_back(Trim(text));
      break;
    }
    lines.push_back(Trim(text.substr(0, lf)));
    text.remove_prefix(lf + 1);
  }
  return lines;
}

// Section name of a "[name]" line, or none.
std::optional<std::string_view> SectionOf(std::string_view line) {
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// Key of a "key=value" line and its value, when the line is one.
bool SplitKey(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return true;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
  bool inSection = false;
  for (std::string_view line : Lines(text)) {
    if (auto name = SectionOf(line)) {
      inSection = equalsNoCase(*name, section);
      continue;
    }
    std::string_view k, v;
    if (inSection && SplitKey(line, k, v) && equalsNoCase(k, key)) return std::string(v);
  }
  return std::nullopt;
}

std::string SetProfileValue(std::string_view text, std::string_view section,
                            std::string_view key, std::string_view value) {
  const std::vector<std::string_view> lines = Lines(text);
  std::string out;
  const std::string entry = std::string(key) + "=" + std::string(value) + "\r\n";
  bool inSection = false, done = false;
  std::size_t lastInSection = 0;  // index after the last non-empty line of the section
  bool sectionSeen = false;
  std::vector<std::string> outLines;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (auto name = SectionOf(line)) {
      inSection = !done && equalsNoCase(*name, section);
      if (inSection) {
        sectionSeen = true;
        lastInSection = outLines.size() + 1;
      }
      outLines.emplace_back(line);
      continue;
    }
    std::string_view k, v;
    if (inSection && !done && SplitKey(line, k, v) && equalsNoCase(k, key)) {
      outLines.push_back(entry.substr(0, entry.size() - 2));
      done = true;
      continue;
    }
    outLines.emplace_back(line);
    if (inSection && !line.empty()) lastInSection = outLines.size();
  }
  if (!done) {
    if (sectionSeen) {
      outLines.insert(outLines.begin() + static_cast<std::ptrdiff_t>(lastInSection),
                      entry.substr(0, entry.size() - 2));
    } else {
      std::string header = "[";
      header.append(section).append("]");
      outLines.push_back(std::move(header));
      outLines.push_back(entry.substr(0, entry.size() - 2));
    }
  }
  for (const std::string& line : outLines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

int ProfileValueToInt(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  long long n = 0;
  while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
    n = n * 10 + (value[i++] - '0');
    if (n > 0x7FFFFFFFLL) n = 0x7FFFFFFFLL;  // saturate instead of overflowing
  }
  return static_cast<int>(negative ? -n : n);
}

}  // namespace zel
