// The listing of an index file in a list box: one entry per record, in the
// order of the file, with the record's mailbox line number as item data.
#pragma once

#include "window/window_handle.h"

namespace zel {

// Bytes of an index line the listing reads (a record of the index builder
// is at most about 3,050); the rest of a longer line is not read.
inline constexpr unsigned kListingLineLimit = 4096;

// PrintIndex - fills the list box `listWindow` from the index `indexPath`.
//
// Input:  `keyName` "", "Subject", "From" or "Date" (case as written; null
//         counts as "Subject"); it does not change the order. `insertAt` is
//         the position of every insertion (-1: append, 0: top). Column widths
//         in bytes; below 0 counts as 0.
// Output: after WM_SETREDRAW FALSE and LB_RESETCONTENT, per record (lines
//         starting with "*" and lines of fewer than six fields skipped):
//         LB_INSERTSTRING of "　 " + subject + " " + from + " " + date +
//         TAB + the line-number field, each column cut at a character
//         boundary to its width and padded with blanks; then, unless the
//         insertion failed, LB_SETITEMDATA with the line number. Finally
//         WM_SETREDRAW TRUE.
// Returns 1 when the list was filled; 0 for no window or path, an unknown
// key name or an index that cannot be opened (the list box is untouched).
int PrintIndex(WindowHandle listWindow, const char* indexPath, const char* keyName, int insertAt,
               int subjectWidth, int fromWidth, int dateWidth);

}  // namespace zel
