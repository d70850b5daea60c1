// Diagnostic log: one append-only text file for the whole process.
//
// Every entry is a prefix ("YYYY/MM/DD HH:MM:SS Module.cpp LINE ") written by
// LogWhere and a message written by LogText, each half opening and closing the
// file itself so the log is complete on disk after every entry. Lines end
// CR LF on disk. A log file that cannot be opened is skipped silently.
// Nothing here throws, so entries may be written from destructors.
#pragma once

#include <string_view>

namespace zel {

// Appends the prefix of a new entry. `sourceFile` is the reporting module's
// file name with its extension ("InetMail.cpp"); `line` the reporting line.
void LogWhere(const char* sourceFile, int line);

// Appends the message of the entry (printf conventions) and its line end.
void LogText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Moves the log of the whole process to `dir` + separator + "zelpost.log".
// `dir` is Shift-JIS host text; an over-long result keeps the old path.
void SetLogDirectory(std::string_view dir);

}  // namespace zel

// Writes one log entry. `module` is one of InetMail, InetPop3, InetSmtp,
// MailFile, zelexport (as a bare word); the line is the line of the call.
#define ZEL_LOG(module, ...) \
  (::zel::LogWhere(#module ".cpp", __LINE__), ::zel::LogText(__VA_ARGS__))
