// Recipient list of an outgoing mail: from the collected To, Cc and Bcc
// texts of a send file to the bare addresses the SMTP client sends.
#pragma once

#include <string>
#include <string_view>

namespace zel {

// NormaliseRecipients - bare addresses of the collected recipient texts.
//
// Input:  `collected`, the texts of the To, Cc and Bcc lines (and their
//         continuations) joined by ",", Shift-JIS, blanks and line feeds kept.
// Output: the addresses joined by "," with no blank and no empty item, or
//         the empty text when there is none.
//
// Items are separated by TAB, LF, ";" and ","; a separator inside a quoted
// string or a comment in parentheses does not split, but a line feed (and
// any other control byte, CR included) always does. Of an item holding
// "<...>" only the text inside the first angle brackets is kept; otherwise
// every comment in parentheses is removed and the rest kept, so no named
// recipient is lost. Double-byte characters are stepped over whole.
std::string NormaliseRecipients(std::string_view collected);

}  // namespace zel
