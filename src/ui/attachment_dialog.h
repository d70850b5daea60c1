// The attachment dialog (resource 230): lists the attachments of a display
// file by name and saves the chosen one, decoded, to a file picked in the
// standard Save dialog. It stays open for further saves until closed.
#pragma once

namespace zel {

// Results of RunAttachmentDialog.
inline constexpr int kAttachClosed = 0;      // the list was shown and closed
inline constexpr int kAttachNoFile = -1;     // the file could not be opened
inline constexpr int kAttachSinglePart = -2; // multipart with one part only

// RunAttachmentDialog - runs the dialog modally on the calling thread, with
// no owner, for the display file `path` (cut to 259 bytes).
//
// Before it is seen: a file that cannot be opened ends it with
// kAttachNoFile, a multipart message of one part with kAttachSinglePart.
// Otherwise it lists the names of parts 1 to N-1 (the first part, the text,
// is not listed), selects the first, and on Save asks for a path (the name
// as the initial file name), asks "上書きしますか" before replacing an
// existing file, and writes part (selection + 1). Save with nothing
// selected does nothing.
// Returns kAttachClosed once the user closes it, or the code above; -1
// also when the dialog cannot be created.
int RunAttachmentDialog(const char* path);

}  // namespace zel
