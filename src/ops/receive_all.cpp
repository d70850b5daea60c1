// The work of receive-all on the worker thread: the locks on the list and
// seen-UIDL files, every new message of the maildrop into its display file
// and list line, the seen-UIDL file, deletion on the server, and the end of
// the run. Messages are recorded in batches, each put on stable storage
// before the seen file or QUIT after DELE records it.
#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "api/inet_mail.h"
#include "codec/message_decoder.h"
#include "ops/receive_files.h"
#include "ops/receive_screen.h"
#include "ops/receive_steps.h"
#include "platform/file_lock.h"
#include "platform/file_ops.h"
#include "platform/log.h"
#include "platform/text_file.h"
#include "store/display_name.h"
#include "store/list_file.h"
#include "store/raw_message.h"
#include "store/record_file.h"
#include "store/seen_set.h"
#include "store/text_file_stream.h"

namespace zel {

namespace {

// Retrievals sent ahead at most: enough to keep the server busy while a
// message is decoded, few enough to bound what waits in the socket.
constexpr std::size_t kRetrAhead = 4;

// One run of ReceiveAll over a listing.
class ReceiveRun {
 public:
  ReceiveRun(InetMail& session, ReceiveFiles& files)
      : s_(session),
        files_(files),
        dele_(session.deleteOnServer == 1),
        deleteSeen_(dele_ && session.deleteSeen == 1),
        maxSize_(session.maxMessageSize > 0 ? static_cast<std::uint32_t>(session.maxMessageSize) : 0),
        screened_(Screens(session)) {}

  // Receives message `number` and every later one of the listing.
  // Returns the count stored; `complete` tells whether the listing was
  // worked through to its end.
  int Run(int number, RecordFile& list, const char* folder, bool& complete);

  // Ends the message loop: `complete` tells the last record (CommitReceived)
  // whether the keys the run did not reach are kept. A whole message that
  // could not be stored was left in a temporary file when it failed.
  void Finish(bool complete);

 private:
  enum class Outcome { kStored, kSkipped, kFailed };
  Outcome Receive(int number, RecordFile& list, const char* folder);
  // The end of a stored message: its key noted, DELE with the DELE
  // option, and the batch recorded once it is full.
  Outcome Stored(int number);
  // The seen key: the listing's UIDL, else the captured Message-Id.
  std::string SeenKey() const;
  // Without DELE between two retrievals: sends RETR ahead for the next
  // messages the run will retrieve, until kRetrAhead are on their way, so
  // that the server works while this one is decoded and stored. A message
  // whose key the listing does not hold (it needs TOP first) ends the
  // look-ahead. `storing` is the key of the message being stored.
  void SendAhead(std::string_view storing);
  // True once the caller's thread has cancelled the run (the channel is
  // disabled): the failures that follow set no error number.
  bool Cancelled() const { return !s_.IsEnabled(); }
  // True when listing entry `index` is larger than the MAXSIZE option.
  bool TooLarge(std::size_t index) const {
    return maxSize_ != 0 && s_.Listing().Octets(index) > maxSize_;
  }

  InetMail& s_;
  ReceiveFiles& files_;
  SeenSet* seen_ = nullptr;  // the run's seen set, once loaded
  // The DELE option as the run started. Without DELE between two
  // retrievals, the next RETR is sent while this message is decoded and
  // stored: the server works meanwhile.
  const bool dele_;
  // DELESEEN: a message skipped as seen (stored by an earlier run whose
  // deletions never took effect) is deleted too.
  const bool deleteSeen_;
  const std::uint32_t maxSize_;  // MAXSIZE in bytes; 0 none
  // KILLSIZE or FILTER: each message is screened before its RETR, so none
  // is sent ahead.
  const bool screened_;
  std::deque<std::size_t> ahead_;  // listing indices sent ahead, in order
  std::size_t lookFrom_ = 0;        // the next listing index to look at
  // The message between RETR and its display file; one buffer for the run.
  RawMessage raw_;
  // The run's display file names; the unused ones go back at its end.
  DisplayNameBlock names_;
};

std::string ReceiveRun::SeenKey() const {
  const MessageEntry* entry = s_.CurrentEntry();
  if (entry != nullptr && entry->uidl[0] != '\0') return entry->uidl;
  return s_.messageId;
}

void ReceiveRun::SendAhead(std::string_view storing) {
  if (screened_) return;
  const MessageListing& listing = s_.Listing();
  lookFrom_ = std::max(lookFrom_, s_.CurrentIndex() + 1);
  // Keys of the messages sent ahead, and of the one being stored, count as
  // seen: each is recorded before the loop reaches the next.
  auto pending = [&](std::string_view key) {
    if (key == storing) return true;
    for (std::size_t at : ahead_) {
      if (key == listing.Uidl(at)) return true;
    }
    return false;
  };
  while (ahead_.size() < kRetrAhead && lookFrom_ < listing.Size()) {
    const std::size_t at = lookFrom_;
    if (seen_ != nullptr) {
      const std::string_view key = listing.Uidl(at);
      if (key.empty()) return;
      ++lookFrom_;
      if (seen_->Holds(key) || pending(key)) continue;
    } else {
      ++lookFrom_;
    }
    if (TooLarge(at)) continue;
    if (s_.SendRetrAhead(listing.Number(at)) != 1) return;
    ahead_.push_back(at);
  }
}

int ReceiveRun::Run(int number, RecordFile& list, const char* folder, bool& complete) {
  int stored = 0;
  complete = false;
  while (number > 0) {
    if (Cancelled()) return stored;
    const Outcome outcome = Receive(number, list, folder);
    if (outcome == Outcome::kFailed) return stored;
    if (outcome == Outcome::kStored) ++stored;
    number = s_.NextMessage();
  }
  if (number < 0) s_.TakeFailure(s_);
  complete = number == 0;
  return stored;
}

ReceiveRun::Outcome ReceiveRun::Receive(int number, RecordFile& list, const char* folder) {
  // A message whose RETR went out ahead was found new then already.
  const bool sentAhead = !ahead_.empty() && ahead_.front() == s_.CurrentIndex();
  std::string key;
  if (!files_.seenPath.empty()) {
    if (s_.CurrentEntry() == nullptr || s_.CurrentEntry()->uidl[0] == '\0') {
      const int top = s_.Top(number, 0);
      if (top != 1) {
        s_.TakeFailure(s_);
        if (!Cancelled()) s_.SetError(top, "受信に失敗");
        return Outcome::kFailed;
      }
    }
    key = SeenKey();
    seen_ = LoadSeen(s_, files_);
    // An empty key (no UIDL, no Message-Id) tells nothing about the
    // message: it is always fetched and never recorded.
    if (!key.empty() && !sentAhead && seen_->Lookup(key) == 1) {
      if (deleteSeen_) s_.Dele(number);
      return Outcome::kSkipped;
    }
  }
  if (sentAhead) {
    ahead_.pop_front();
  } else if (TooLarge(s_.CurrentIndex())) {
    // Left on the server, unrecorded: a higher limit fetches it later.
    ZEL_LOG(InetMail, "サイズ上限 %u バイトを超えるメッセージを受信しない [%d: %u バイト]", maxSize_, number,
            s_.Listing().Octets(s_.CurrentIndex()));
    return Outcome::kSkipped;
  }

  if (screened_) {
    switch (ScreenMessage(s_, number, s_.CurrentIndex())) {
      case Screening::kFetch: break;
      case Screening::kFailed: return Outcome::kFailed;
      default: return Outcome::kSkipped;
    }
  }
  raw_.Clear();
  const int retrieved = s_.Retr(number, raw_, "受信用テンポラリファイル");
  if (retrieved != 1) {
    s_.TakeFailure(s_);
    ZEL_LOG(InetMail, "受信に失敗");
    if (!Cancelled()) s_.SetError(retrieved, "%s", retrieved == kMessageTooLarge ? s_.Failure().text : "受信に失敗");
    // A cut retrieval holds part of a message that is still on the server:
    // the part goes.
    raw_.Clear();
    return Outcome::kFailed;
  }
  if (!dele_) SendAhead(seen_ != nullptr ? SeenKey() : std::string());

  std::string display;
  // Names for the messages the listing still holds, this one included.
  const int wanted = static_cast<int>(s_.Listing().Size() - s_.CurrentIndex());
  if (!StoreRetrieved(s_, raw_, names_, wanted, list, folder, files_, display)) return Outcome::kFailed;
  return Stored(number);
}

ReceiveRun::Outcome ReceiveRun::Stored(int number) {
  // The Message-Id of a message without UIDL now comes from Retr.
  if (seen_ != nullptr) {
    const std::string key = SeenKey();
    if (!key.empty()) seen_->Insert(key);
  }
  raw_.Clear();
  // Only a message whose delivery, display file and list line are whole is
  // deleted on the server, at QUIT, after the run's last flush.
  if (dele_) s_.Dele(number);
  if (files_.recordEachBatch && seen_ != nullptr && files_.batch.Full() && !CommitReceived(s_, files_, false)) {
    return Outcome::kFailed;
  }
  return Outcome::kStored;
}

void ReceiveRun::Finish(bool complete) {
  raw_.Clear();
  names_.Release();
  files_.complete = complete;
}

}  // namespace

// ReceiveAll - the worker's main work: locks the list and seen-UIDL files,
// logs in, lists the maildrop afresh and stores every message not in the
// seen-UIDL file. The connection stays open for EndReceive.
//   listPath  list file, replaced; deleted again when nothing was stored
//             (unused, like `folder`, when the messages are delivered
//             elsewhere without KEEPDISPLAY)
//   folder    mail folder for the display files
//   seenPath  seen-UIDL file, or nullptr/empty for none
//   files     receives the run's locks, seen set and the batch not yet
//             recorded (EndReceive records it)
// Returns the count stored (also after a failure inside the loop, with the
// error state naming the failure; and after a cancel, without error);
// 0 for an empty maildrop; -1 when the login or the listing failed (error
// number 0, or -400 to -403 when TLS failed), or the list file cannot be
// opened or locked, or the seen-UIDL file cannot be locked (-1104: another
// run holds it, or the path names a link, a FIFO or another user's file;
// nothing is touched then, not even the server).
int InetMail::ReceiveAll(const char* listPath, const char* folder, const char* seenPath,
                         ReceiveFiles& files) {
  if (protocol == kProtocolImap) return ReceiveAllImap(listPath, folder, seenPath, files);
  ClearError();
  // Delivered elsewhere alone, a run writes no list file.
  const bool listed = WritesDisplayFiles();
  if (!LockRunFiles(*this, files, listPath, listed, seenPath)) return -1;
  ReceiveRun run(*this, files);
  int result = -1;
  bool complete = false;
  const int login = Login(pop3Server, Pop3PortInUse(), userName, password, useApop);
  if (login != 1) {
    TakeFailure(*this);
    ReportSecureFailure(login, pop3Server, true);  // TLS failures name their error
  } else {
    const int first = NextMessage();
    if (first < 0) TakeFailure(*this);
    if (first == 0) {
      result = 0;
    } else if (first > 0) {
      RecordFile list;
      if (listed && !list.Open(listPath, false)) {
        ZEL_LOG(InetMail, "リストファイルのオープンに失敗 [%s]", listPath);
        SetError(-1104, "リストファイルのオープンに失敗 [%s]", listPath);
      } else {
        files.listUsed = listed;
        files.listCreated = listed;
        ReportTotal(totalCount);
        result = run.Run(first, list, folder, complete);
        CloseRunList(list, listPath, listed, complete && result == 0);
      }
    }
  }
  run.Finish(complete);
  return result;
}

// EndReceive - ends the run's connection. The run's last batch (with a
// mailbox, the mailbox step's files too) is recorded first: its files and
// folders flushed to stable storage, then the seen-UIDL file replaced,
// since the server deletes at QUIT and the seen file tells later runs what
// is stored. When the flush fails, the connection is closed without QUIT
// (nothing is deleted) and error -1105 tells why. A cancelled run's
// channel sends nothing, but what it stored is recorded all the same: a
// later run with DELESEEN deletes their messages. Over IMAP the marks and
// expunge follow the record (EndReceiveImap), and end the connection.
void InetMail::EndReceive(ReceiveFiles& files) {
  if (!CommitReceived(*this, files, true)) {
    Close();
    return;
  }
  if (protocol == kProtocolImap) {
    EndReceiveImap(files);
    return;
  }
  Quit();
}

}  // namespace zel
