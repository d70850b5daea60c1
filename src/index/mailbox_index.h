// The index file of a mailbox file: one record per message, appended by
// each update for the messages added since the last one.
//
// Mailbox: text; each message starts with a line "X-MailFile: <display
// file>", its header ends at the first empty line, the message ends with a
// line ".". Lines are counted in pieces of kMailboxPieceSize bytes.
// Index ("<mailbox path minus 4 characters>.dir"): text, one line per
// message, six fields separated by 0x01:
//   %08d line number of the "X-MailFile:" line | 00000000 | Subject | From
//   | date (AppendIndexDate) or empty | Message-Id
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zel {

// Pieces the mailbox and the index are read in (a 4,000-byte line buffer);
// the line numbers in the index count these pieces, and hosts use them.
inline constexpr std::size_t kMailboxPieceSize = 3999;

// A captured header value: at most 999 bytes of text and the NUL.
inline constexpr std::size_t kIndexValueSize = 1000;

// The byte between the fields of a record.
inline constexpr char kIndexSeparator = '\x01';

// IndexPathOf - the index path of a mailbox: its last four bytes (moved to
// a character boundary) replaced by ".dir".
// Returns false when the path has four bytes or fewer or the index path
// would not fit kPathSize bytes.
bool IndexPathOf(std::string_view mailboxPath, std::string& indexPath);

// MakeMailboxIndex - brings the index of `mailboxPath` up to date: resumes
// after the message whose "X-MailFile:" line the index's last record that
// begins with a digit names (records marked with another first character do
// not count), and appends one record per complete message after it.
// A captured value has its line end removed and each 0x00, 0x01, CR and LF
// (and, in Subject and From, each TAB) turned into a blank.
// The update holds an exclusive lock on the index (waiting a bounded time
// for another update). An index path naming a link, a FIFO or another
// user's file cannot be appended to.
// Returns 1 when the index is up to date; 0 for a null, missing or folder
// path, a mailbox that cannot be read, an index that cannot be appended to
// or locked, or a failed write.
int MakeMailboxIndex(const char* mailboxPath);

// CheckMailFolder - the folder index entry point: builds nothing.
// Returns 1 when `folderPath` names an existing folder, else 0.
int CheckMailFolder(const char* folderPath);

}  // namespace zel
