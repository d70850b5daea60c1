// Receive-all and the new-mail check over IMAP: the POP3 run's guarantees
// (display files, list file, seen-UIDL file, progress, cancel) with the
// IMAP client on the session's channel.
//
// The seen key of a message is "UIDVALIDITY.UID"; its Message-Id is kept
// beside it. When the folder's UIDVALIDITY has changed (the seen file holds
// no key of the current one), a message whose Message-Id the file records
// counts as seen: a renumbered folder is not fetched again.
//
// Nothing is marked on the server while the run fetches: at its end the
// stored messages get \Seen, or with DELE \Deleted and an expunge, and that
// only once the run's files are on stable storage. The seen file records
// each batch as the POP3 run's does.
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/inet_mail.h"
#include "codec/imap_folder_name.h"
#include "ops/receive_files.h"
#include "ops/receive_steps.h"
#include "platform/log.h"
#include "store/display_name.h"
#include "store/raw_message.h"
#include "store/record_file.h"
#include "store/seen_set.h"

namespace zel {

namespace {

// Fetches sent ahead at most (as the POP3 run's RETR look-ahead).
constexpr std::size_t kFetchAhead = 4;
// Longest single IDLE: servers may end an IDLE that lasts 30 minutes
// (RFC 2177), so a longer wait issues it again.
constexpr int kIdleRenewSeconds = 29 * 60;

// The seen key of message `uid` in a folder of `uidValidity`, and the
// prefix every key of that folder starts with.
std::string ValidityPrefix(std::uint32_t uidValidity) { return std::to_string(uidValidity) + "."; }

// True when the seen set knows none of the folder's current numbers but
// holds keys: the folder was renumbered (or is new to this file), so
// Message-Ids decide.
bool RenumberedFor(const SeenSet& seen, std::uint32_t uidValidity) {
  return seen.size() > 0 && !seen.HoldsPrefix(ValidityPrefix(uidValidity));
}

class ImapRun {
 public:
  ImapRun(InetMail& session, ReceiveFiles& files)
      : s_(session),
        files_(files),
        deleteSeen_(session.deleteOnServer == 1 && session.deleteSeen == 1) {}

  // Loads the seen-UIDL file (when one is used). Returns true when the
  // Message-Ids of the folder are needed: a seen file is used.
  bool Prepare(std::uint32_t uidValidity);

  // Receives every new message of `uids`; `ids` holds their Message-Ids.
  // Returns the count stored; `complete` when the listing was worked
  // through.
  int Run(const std::vector<std::uint32_t>& uids,
          const std::map<std::uint32_t, std::string>& ids, RecordFile& list, const char* folder,
          bool& complete);

  // As ReceiveRun::Finish.
  void Finish(bool complete);

 private:
  std::string Key(std::uint32_t uid) const { return prefix_ + std::to_string(uid); }
  std::string IdOf(std::uint32_t uid) const {
    const auto at = ids_->find(uid);
    return at != ids_->end() ? at->second : std::string();
  }
  // True when message `uid` was stored before; with `mark`, its keys are
  // marked as present.
  bool Seen(std::uint32_t uid, bool mark);
  void SendAhead(const std::vector<std::uint32_t>& uids, std::size_t current);
  bool Cancelled() const { return !s_.IsEnabled(); }

  InetMail& s_;
  ReceiveFiles& files_;
  const bool deleteSeen_;
  SeenSet* seen_ = nullptr;  // the run's seen set, once loaded
  std::string prefix_;            // "UIDVALIDITY."
  bool byMessageId_ = false;      // the UIDVALIDITY changed: Message-Ids decide
  const std::map<std::uint32_t, std::string>* ids_ = nullptr;
  std::deque<std::size_t> ahead_;  // indices of the fetches sent ahead
  std::size_t lookFrom_ = 0;
  // The message between its FETCH and its display file; one buffer for the
  // run.
  RawMessage raw_;
  // The run's display file names; the unused ones go back at its end.
  DisplayNameBlock names_;
};

bool ImapRun::Prepare(std::uint32_t uidValidity) {
  prefix_ = ValidityPrefix(uidValidity);
  seen_ = LoadSeen(s_, files_);
  if (seen_ == nullptr) return false;
  byMessageId_ = RenumberedFor(*seen_, uidValidity);
  if (byMessageId_) {
    ZEL_LOG(InetMail, "UIDVALIDITY が変わったため Message-Id で既読を判定する [%u]", uidValidity);
  }
  return true;
}

bool ImapRun::Seen(std::uint32_t uid, bool mark) {
  if (seen_ == nullptr) return false;
  const std::string key = Key(uid);
  const std::string id = IdOf(uid);
  if (!mark) return seen_->Holds(key) || (byMessageId_ && !id.empty() && seen_->Holds(id));
  const bool byKey = seen_->Lookup(key) == 1;
  const bool byId = !id.empty() && seen_->Lookup(id) == 1;
  if (byKey) return true;
  if (byMessageId_ && byId) {
    seen_->Insert(key);  // known by its new number from now on
    return true;
  }
  return false;
}

void ImapRun::SendAhead(const std::vector<std::uint32_t>& uids, std::size_t current) {
  lookFrom_ = std::max(lookFrom_, current + 1);
  while (ahead_.size() < kFetchAhead && lookFrom_ < uids.size()) {
    const std::size_t at = lookFrom_++;
    if (Seen(uids[at], false)) continue;
    if (s_.imap.SendFetchAhead(uids[at]) != 1) return;
    ahead_.push_back(at);
  }
}

int ImapRun::Run(const std::vector<std::uint32_t>& uids,
                 const std::map<std::uint32_t, std::string>& ids, RecordFile& list, const char* folder,
                 bool& complete) {
  ids_ = &ids;
  int stored = 0;
  complete = false;
  for (std::size_t i = 0; i < uids.size(); ++i) {
    if (Cancelled()) return stored;
    const std::uint32_t uid = uids[i];
    const bool sentAhead = !ahead_.empty() && ahead_.front() == i;
    if (sentAhead) {
      ahead_.pop_front();
    } else if (Seen(uid, true)) {
      if (deleteSeen_) files_.storedUids.push_back(uid);
      continue;
    }
    raw_.Clear();
    const int fetched = s_.imap.FetchBody(uid, raw_);
    if (fetched != 1) {
      s_.TakeFailure(s_);
      ZEL_LOG(InetMail, "受信に失敗");
      if (!Cancelled()) s_.SetError(fetched, "%s", fetched == kMessageTooLarge ? s_.Failure().text : "受信に失敗");
      raw_.Clear();  // a cut message is still on the server
      return stored;
    }
    SendAhead(uids, i);
    std::string display;
    // Names for the messages still to come, this one included.
    const int wanted = static_cast<int>(uids.size() - i);
    if (!StoreRetrieved(s_, raw_, names_, wanted, list, folder, files_, display)) return stored;
    if (seen_ != nullptr) {
      seen_->Insert(Key(uid));
      const std::string id = IdOf(uid);
      if (!id.empty()) seen_->Insert(id);
    }
    raw_.Clear();
    ++stored;
    files_.storedUids.push_back(uid);
    if (files_.recordEachBatch && seen_ != nullptr && files_.batch.Full() && !CommitReceived(s_, files_, false)) {
      return stored;
    }
  }
  complete = true;
  return stored;
}

void ImapRun::Finish(bool complete) {
  raw_.Clear();
  names_.Release();
  files_.complete = complete;
}

}  // namespace

int InetMail::OpenImapFolder(bool readOnly) {
  const int login = imap.Login(pop3Server, ReceivePortInUse(), userName, password);
  if (login != 1) {
    TakeFailure(*this);
    ReportSecureFailure(login, pop3Server, true);
    return -1;
  }
  std::string name;
  ImapFolderFromHost(imapFolder, name);  // checked when the option was set
  const int count = imap.Select(name, readOnly);
  if (count < 0) {
    TakeFailure(*this);
    ZEL_LOG(InetMail, "フォルダを選択できない [%s]", imapFolder);
    SetError(-203, "フォルダを選択できない [%s]", imapFolder);
  }
  return count;
}

// ReceiveAllImap - ReceiveAll over IMAP: the same locks, files and results.
// The listing is UID SEARCH of the messages not marked \Deleted (and not
// larger than MAXSIZE); with a seen-UIDL file their Message-Ids come with
// one UID FETCH of that field.
int InetMail::ReceiveAllImap(const char* listPath, const char* folder, const char* seenPath,
                             ReceiveFiles& files) {
  ClearError();
  // Delivered elsewhere alone, a run writes no list file.
  const bool listFile = WritesDisplayFiles();
  if (!LockRunFiles(*this, files, listPath, listFile, seenPath)) return -1;
  ImapRun run(*this, files);
  int result = -1;
  bool complete = false;
  const int count = OpenImapFolder(false);
  std::vector<std::uint32_t> uids;
  std::map<std::uint32_t, std::string> ids;
  bool listed = false;
  if (count == 0) {
    result = 0;
  } else if (count > 0) {
    std::string criteria = "UNDELETED";
    if (maxMessageSize > 0) criteria += " NOT LARGER " + std::to_string(maxMessageSize);
    listed = imap.UidSearch(criteria.c_str(), uids) == 1;
    // The seen file is read only when there is something to compare.
    if (listed && !uids.empty() && run.Prepare(imap.uidValidity)) {
      std::vector<std::pair<std::uint32_t, std::string>> found;
      listed = imap.FetchMessageIds(found) == 1;
      for (auto& [uid, id] : found) ids.emplace(uid, std::move(id));
    }
    if (!listed) TakeFailure(*this);
    if (listed && uids.empty()) result = 0;
  }
  if (listed && !uids.empty()) {
    RecordFile list;
    if (listFile && !list.Open(listPath, false)) {
      ZEL_LOG(InetMail, "リストファイルのオープンに失敗 [%s]", listPath);
      SetError(-1104, "リストファイルのオープンに失敗 [%s]", listPath);
    } else {
      files.listUsed = listFile;
      files.listCreated = listFile;
      totalCount = count;
      retrievedCount = 0;
      ReportTotal(totalCount);
      result = run.Run(uids, ids, list, folder, complete);
      CloseRunList(list, listPath, listFile, complete && result == 0);
    }
  }
  run.Finish(complete);
  return result;
}

// EndReceiveImap - after EndReceive has recorded the run's last batch:
// marks what the run stored (\Seen; with DELE \Deleted, and expunges
// them) and logs out. A cancelled run's channel sends nothing, so nothing
// is marked.
void InetMail::EndReceiveImap(ReceiveFiles& files) {
  if (!files.storedUids.empty() && IsEnabled() && IsConnected()) {
    if (deleteOnServer == 1) {
      if (imap.StoreFlags(files.storedUids, "\\Deleted") == 1) imap.Expunge(files.storedUids);
    } else {
      imap.StoreFlags(files.storedUids, "\\Seen");
    }
  }
  imap.Logout();
}

// MailBiffImap - the new-mail check over IMAP: the message count of
// IMAPFOLDER (EXAMINE: nothing changes on the server). With BIFFIDLE, the
// check first waits that long (IDLE) for a new message when there is
// nothing new (BIFFNEW 0 with BIFFSEENFILE, else an empty folder), and
// returns -1 when the connection ends meanwhile. With BIFFSEENFILE,
// BIFFNEW counts the messages not marked \Deleted whose seen key (or, in a
// renumbered folder, Message-Id) the file lacks.
int InetMail::MailBiffImap() {
  const int count = OpenImapFolder(true);
  if (count == -1) {
    Close();
    return -1;
  }
  // BIFFNEW: the messages not marked \Deleted whose keys the file lacks.
  auto countNew = [this] {
    SeenSet seen;
    seen.Load(biffSeenFile);
    std::vector<std::uint32_t> uids;
    std::vector<std::pair<std::uint32_t, std::string>> ids;
    const bool renumbered = RenumberedFor(seen, imap.uidValidity);
    if (imap.UidSearch("UNDELETED", uids) != 1 ||
        (renumbered && !uids.empty() && imap.FetchMessageIds(ids) != 1)) {
      TakeFailure(*this);
      biffNew = -1;
      return;
    }
    std::map<std::uint32_t, std::string> idOf(ids.begin(), ids.end());
    int fresh = 0;
    for (std::uint32_t uid : uids) {
      const std::string& id = idOf[uid];
      const bool known = seen.Holds(ValidityPrefix(imap.uidValidity) + std::to_string(uid)) ||
                         (renumbered && !id.empty() && seen.Holds(id));
      if (!known) ++fresh;
    }
    biffNew = fresh;
  };
  const bool counting = count >= 0 && biffSeenFile[0] != '\0';
  if (counting) countNew();
  // BIFFIDLE: with nothing new, wait for a new message (IDLE, renewed
  // within 29 minutes).
  const bool nothingNew = counting ? biffNew == 0 : count == 0;
  int idled = 0;
  if (nothingNew && biffIdle > 0 && imap.HasCapability("IDLE")) {
    for (const SocketDeadline end = SocketDeadlineAfter(biffIdle); idled == 0;) {
      const long long left = SocketTimeLeft(end);
      if (left == 0 || biffIdle <= 0) break;
      const int seconds = static_cast<int>(std::min<long long>((left + 999) / 1000, kIdleRenewSeconds));
      idled = imap.Idle(seconds, [this] { return biffIdle > 0; });
    }
  }
  if (idled < 0) {
    // The connection ended while waiting: no count to give.
    TakeFailure(*this);
    ZEL_LOG(InetMail, "新着待ちの間に接続が切れた [%s]", pop3Server);
    Close();
    return -1;
  }
  if (idled > 0 && counting) countNew();
  const int total = count >= 0 ? std::max(count, imap.exists) : count;
  imap.Logout();
  return total;
}

}  // namespace zel
