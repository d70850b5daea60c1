// How zelrecv shows a run on standard output: on a terminal one line,
// redrawn in place with what the progress dialog shows; otherwise one plain
// line per stored message, read from the list file as the run writes it
// (from the dialog when the run delivers elsewhere and writes no list).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "programs/progress_line.h"

namespace zel::sender {

class ProgressView {
 public:
  // `live`: standard output is a terminal. `listPath`: the run's list file
  // (host text); empty for a run that delivers elsewhere and writes none.
  ProgressView(bool live, std::string listPath);

  // Show - the progress dialog shows `texts` now. Redraws the live line.
  void Show(const ProgressTexts& texts);

  // Poll - prints the plain lines of the messages stored since the last
  // call. The list file is only read once the dialog has shown the total:
  // until the run has listed the maildrop it may be an earlier run's.
  void Poll();

  // Finish - the run has ended with `result` (zelRecvMailAll), and
  // `succeeded` when it set no error. Prints the plain lines still due, or
  // draws the live line a last time with the last stored message, then ends
  // it with a line feed; a live line of a successful run that stored
  // nothing is erased instead.
  void Finish(int result, bool succeeded);

 private:
  // Reads the whole lines added to the list file since the last read.
  void ReadList();
  // Draws `texts` over the live line.
  void Draw(const ProgressTexts& texts);

  const bool live_;
  const std::string listPath_;
  bool ownList_ = false;   // the list file is this run's
  std::int64_t listOffset_ = 0;  // bytes of the list file read
  int stored_ = 0;         // list lines read
  int shownPlain_ = 0;     // plain lines written from the dialog (no list file)
  int total_ = 0;          // the total the dialog showed
  ProgressTexts last_;     // the last stored message (live)
  std::size_t drawnColumns_ = 0;  // width of the live line on screen
  bool drawn_ = false;
};

}  // namespace zel::sender
