// Screening a new message before it is fetched (options KILLSIZE and
// FILTER), as mpop users know it: a message above the kill size is deleted
// unread; the filter command reads the message's header block on its
// standard input and answers by its exit status.
#pragma once

#include <cstddef>

namespace zel {

class InetMail;

enum class Screening {
  kFetch,    // fetch it as usual
  kLeave,    // leave it on the server (filter exit 1)
  kDeleted,  // deleted without fetching (kill size, filter exit 2)
  kFailed,   // the header could not be had: the run stops (error state set)
};

// The filter's exit statuses.
inline constexpr int kFilterFetch = 0;
inline constexpr int kFilterLeave = 1;
inline constexpr int kFilterDelete = 2;

// True when the session screens messages (KILLSIZE or FILTER set).
bool Screens(const InetMail& s);

// ScreenMessage - decides on message `number` (listing entry `index`) of
// the POP3 session: deleted when its listed size is above KILLSIZE (with
// or without the DELE option: the kill size asks for it), else what the
// FILTER command answers (0 fetch, 1 leave, 2 delete; a command that
// cannot be run or answers otherwise: fetched, so that nothing is lost).
// Each decision other than fetching is logged.
Screening ScreenMessage(InetMail& s, int number, std::size_t index);

}  // namespace zel
