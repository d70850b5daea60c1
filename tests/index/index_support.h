// Mailboxes, index lines and time zones for the index tests.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/scratch_dir.h"

namespace zel::test {

// A mailbox entry as receive-all appends it (LF here, CR LF on disk).
inline std::string Entry(const std::string& name, const std::string& header, const std::string& body) {
  return "X-MailFile: /mail/" + name + ".wml\n" + header + "\n" + body + ".\n";
}

// Text with every LF stored as CR LF.
inline std::string OnDisk(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

inline void AppendBytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// The lines of a text file without their CR LF.
inline std::vector<std::string> TextLines(const std::string& path) {
  const std::string text = ReadBytes(path);
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// A record line of the index, fields given without their separators.
inline std::string Record(const std::string& number, const std::string& subject, const std::string& from,
                          const std::string& date, const std::string& id) {
  const char s = '\x01';
  return number + s + "00000000" + s + subject + s + from + s + date + s + id;
}

#ifndef _WIN32
// Sets the process's time zone for one scope (POSIX TZ names).
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};
#endif

}  // namespace zel::test
