// The list file of receive-all: one line per stored message,
//   display path TAB "yyyy/mm/dd hh:mm:ss" TAB From line TAB Subject line
// (text mode, so lines end CR LF on disk), and the names derived from a
// display path for the mailbox step.
#pragma once

#include <string>
#include <string_view>

#include "codec/message_decoder.h"

namespace zel {

// The list line of a stored message, line feed included: the date fields
// of `info` as the message's own wall-clock time (1900/01/00 00:00:00 for
// a message without Date), its From and Subject texts. A CR or LF inside
// those texts (an encoded word may decode to one) becomes a blank, so a
// message always takes exactly one line.
std::string FormatListLine(std::string_view displayPath, const MessageInfo& info);

// The reading copy of a display file: the same folder and base name with
// the extension ".qml" ("zel00012.wml" gives "zel00012.qml").
std::string ReadingCopyPath(std::string_view displayPath);

// The display file a mailbox entry names for reading copy `path`: `path`
// with its last four characters replaced by ".wml".
std::string DisplayPathOf(std::string_view path);

}  // namespace zel
