// Diagnostic log: one append-only text file for the whole process.
//
// Every entry is a prefix ("YYYY/MM/DD HH:MM:SS Module.cpp LINE ") written by
// LogWhere and a message written by LogText, each half opening and closing the
// file itself so the log is complete on disk after every entry. Lines end
// CR LF on disk. A log file that cannot be opened is skipped silently.
// Nothing here throws, so entries may be written from destructors.
//
// The log holds user names, addresses and server replies: on POSIX it is
// opened append-only, without following a link and without blocking, is
// created 0600, and is written only when it is a regular file of the
// effective user (a FIFO or another user's file planted there is skipped).
#pragma once

#include <string>
#include <string_view>

namespace zel {

// Appends the prefix of a new entry. `sourceFile` is the reporting module's
// file name with its extension ("InetMail.cpp"); `line` the reporting line.
void LogWhere(const char* sourceFile, int line);

// Appends the message of the entry (printf conventions) and its line end.
// Every byte below 0x20 and 0x7F of the message is written as a blank: the
// message carries peer and host text, whose line feeds would forge entries
// and whose escape sequences would reach the reader's terminal.
void LogText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Moves the log of the whole process to `dir` + separator + "zelpost.log".
// `dir` is Shift-JIS host text; an over-long result keeps the old path.
void SetLogDirectory(std::string_view dir);

// The log file until SetLogDirectory is called, as a host path in `out`:
// per user on POSIX, $XDG_STATE_HOME/zelpost/zelpost.log (an absolute
// XDG_STATE_HOME; else ~/.local/state/zelpost/zelpost.log), its missing
// folders created with mode 0700; "c:\temp\zelpost.log" on Windows.
// Returns false when there is none: no home folder, or a folder that
// cannot be made or is not the user's own.
bool DefaultLogPath(std::string& out);

}  // namespace zel

// Writes one log entry. `module` is one of InetMail, InetPop3, InetSmtp,
// MailFile, zelexport (as a bare word); the line is the line of the call.
#define ZEL_LOG(module, ...) \
  (::zel::LogWhere(#module ".cpp", __LINE__), ::zel::LogText(__VA_ARGS__))
