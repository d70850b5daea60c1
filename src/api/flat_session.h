// The process-wide session behind the flat exports.
#pragma once

namespace zel {

class InetMail;

// The flat session, created by the first call that needs it (thread-safe,
// once); nullptr when its creation failed (every export then returns its
// failure result).
InetMail* FlatSession();

}  // namespace zel
