// Shared ground of the receive-all end-to-end tests: a fixture that gives
// each test its own mail folder, profile and temporary folder, runs
// zelRecvMailAll against the real Dovecot (or through a proxy), and reads
// back what the run left on the server and on disk.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "net/recv_progress.h"
#include "../servers.h"

namespace zel::e2e {

// A test message with the Message-Id <id@zelpost.test>: an ISO-2022-JP
// subject, a sender, a date, and about `bodyBytes` of body with lines that
// start with a dot.
std::string TestMessage(const std::string& id, std::size_t bodyBytes = 200);

// The ids (the part before "@zelpost.test") of the Message-Id lines of
// `texts`, in order.
std::vector<std::string> IdsOf(const std::vector<std::string>& texts);

// Clears the display file counter, so that the next name is zel00001.wml.
void ResetDisplayCounter();

// The dialog `dialog` as one line: its dialog id, title, counts, subject
// and sender, and for the dialog with a progress bar the bar's position,
// separated by "|". Read through zelpost_ui.h on POSIX, through the Win32
// windows on Windows.
std::string DialogLine(WindowHandle dialog);

// Presses the Cancel button of `dialog` (the click is queued for the
// dialog's thread).
void PressCancel(WindowHandle dialog);

// Drops `count` messages with ids prefix1..prefixN into alice's maildrop;
// returns the ids in listing order.
std::vector<std::string> DropMessages(const std::string& prefix, int count,
                                      std::size_t bodyBytes = 200);

// Outcome of one zelRecvMailAll call.
struct RunResult {
  int result = 0;
  int error = 0;
  std::string errorText;
};

// Installs `hook` as the progress sender for the life of the object: the
// worker calls it once per retrieved message, at the end of its header.
// `forward` also delivers the record to the dialog, as the default sender.
class ProgressHook {
 public:
  using Hook = std::function<void(WindowHandle window, const RecvProgress& record)>;
  explicit ProgressHook(Hook hook, bool forward = true);
  ~ProgressHook();
};

class RecvAllTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One call of zelRecvMailAll with the fixture's list file and mail
  // folder, the seen file when `seen`, the mailbox file when `mailbox`;
  // `server` replaces the POP3 server ("host:port").
  RunResult Run(bool seen = true, bool mailbox = false, const std::string& server = "");

  // Run with the progress dialog shown, whose Cancel is pressed once the
  // `retrieved`th message has come (SILENT is 1 again afterwards).
  RunResult RunCancelledAt(int retrieved);
  // Empties maildrop, mail folder, list, seen file, mailbox and display
  // counter; drops `messages` messages with ids prefix1..prefixN again and
  // returns them.
  std::vector<std::string> Fresh(int messages, const std::string& prefix = "k");
  // Empties alice's maildrop. The session of a run before may still be
  // moving messages from new/ to cur/ after its QUIT: it is cleared until
  // it stays empty.
  void ClearServer() const;
  // The lines of the list file (without CR LF); empty when there is none.
  std::vector<std::string> ListLines() const;
  // Ids of the display files in the mail folder, sorted by file name.
  std::vector<std::string> StoredIds() const;
  // Ids of the messages on the server, in listing order. Dovecot expunges
  // after the session's QUIT, a moment after the client has gone: with
  // `expected` >= 0 the call first waits (up to 3 s) for that many.
  std::vector<std::string> ServerIds(int expected = -1) const;
  // Checks that the list file names exactly the display files of the
  // folder, each once, every line with four fields.
  void ExpectListMatchesFolder() const;

  TempDir dir_;
  std::string list_, folder_, seen_, mailbox_;

 private:
  std::map<std::string, std::string> savedEnv_;
};

}  // namespace zel::e2e
