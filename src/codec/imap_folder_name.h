// IMAP mailbox names (RFC 3501 5.1.3): the modified UTF-7 the protocol
// carries, and the host's Shift-JIS text a user types.
//
// Modified UTF-7: printable ASCII stands for itself ("&" as "&-"); any other
// run of characters is "&", the modified base64 (',' for '/', no padding) of
// their UTF-16 code units, and "-".
#pragma once

#include <string>
#include <string_view>

namespace zel {

// ImapUtf7FromUtf8 - encodes the UTF-8 `text` into `out` (replaced).
// Returns false, `out` empty, when `text` is not well-formed UTF-8.
bool ImapUtf7FromUtf8(std::string_view text, std::string& out);

// ImapUtf7ToUtf8 - decodes a modified UTF-7 name into UTF-8 `out`
// (replaced). Returns false, `out` empty, for a name that is not
// well-formed: a byte outside printable ASCII, an unclosed or empty
// "&...-" run (other than "&-"), bits left over, an unpaired surrogate.
bool ImapUtf7ToUtf8(std::string_view name, std::string& out);

// ImapFolderFromHost - the modified UTF-7 form of the Shift-JIS folder
// name `host`. Returns false when a character has no Unicode form.
bool ImapFolderFromHost(std::string_view host, std::string& out);

// ImapFolderToHost - the Shift-JIS form of the modified UTF-7 `name`.
// Returns false when the name is malformed or a character has no
// Shift-JIS form.
bool ImapFolderToHost(std::string_view name, std::string& out);

}  // namespace zel
