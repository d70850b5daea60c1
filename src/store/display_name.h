// Display file names of receive-all: "zel%05d.wml" in the mail folder,
// numbered by the counter "count" of section "zelsend" in the profile file
// zelpost.ini, which every session and process on the machine shares.
#pragma once

#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace zel {

// Counter numbers run 1..99999, then 0 again.
inline constexpr int kDisplayNameModulo = 100000;
// Numbers a run reserves at most at once: one profile update serves a
// whole run of typical size, and a run that dies leaves no larger gap.
inline constexpr int kMaxDisplayNameReserve = 1000;

// The display file names of one run. The counter is not stored per message:
// a block of numbers is reserved under the profile file's lock, before any
// of them is used (so a run that dies never lets a name be used twice), and
// the unused end of the block is given back when the run ends, if no other
// process has reserved since.
class DisplayNameBlock {
 public:
  DisplayNameBlock() = default;
  ~DisplayNameBlock() { Release(); }
  DisplayNameBlock(const DisplayNameBlock&) = delete;
  DisplayNameBlock& operator=(const DisplayNameBlock&) = delete;

  // Next - creates the next display file of `folder`.
  //   Takes the next number of the reservation (reserving up to `wanted`
  //   numbers, at most kMaxDisplayNameReserve, when it is used up) and creates
  //   "zel%05d.wml" in `folder` as a new file; a name that exists already
  //   is skipped for the next number, so no file is ever overwritten and
  //   two processes never share one.
  //   path     receives the display file's path (or, on a counter failure,
  //            the profile file's)
  //   display  opened on the new file for writing (text mode)
  // Returns 1 created; 0 the counter could not be stored; -1 the file could
  // not be created (the folder is missing or not writable, the path is too
  // long, or every number is taken).
  int Next(std::string_view folder, int wanted, std::string& path, TextFile& display);

  // Release - gives back the numbers reserved and not used (when the
  // counter still holds the end of the reservation).
  void Release();

 private:
  int next_ = 0;   // the next number of the reservation
  int left_ = 0;   // numbers left in it
  int end_ = 0;    // its last number, which the counter holds
  int last_ = 0;   // the last number handed out
};

}  // namespace zel
