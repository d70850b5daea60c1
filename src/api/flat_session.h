// The process-wide session behind the flat exports.
#pragma once

namespace zel {

class InetMail;

// The session created when the library was loaded; nullptr when its
// creation failed (every export then returns its failure result).
InetMail* FlatSession();

}  // namespace zel
