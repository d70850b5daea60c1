// InetImap: the IMAP4rev1 (RFC 3501) client of a session, on the session's
// own channel (TLS, STARTTLS, time-out and cancel as for POP3).
//
// Logs in (LOGIN, AUTHENTICATE PLAIN, XOAUTH2 or OAUTHBEARER), selects a
// mailbox, searches and fetches by UID, streams a message's literal into a
// file in the form the POP3 client writes (lines ending CR LF, a line that
// begins with "." stuffed with another), marks messages by UID, expunges
// only what it marked, waits for new mail with IDLE, and logs out. Header
// capture and progress reports go through the session's POP3 client, so
// a retrieval looks the same to the caller whichever protocol carried it.
// Every failure writes one log entry (module InetImap) and returns a
// negative code, with the POP3 client's numbers for the same steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "net/imap_response.h"
#include "net/inet_pop3.h"

namespace zel {

inline constexpr int kImapPort = 143;
inline constexpr int kImapTlsPort = 993;
// Longest response kept (its lines and kept literals): a SEARCH of
// kMaxListing UIDs of ten digits and their blanks fits; a longer one is a
// broken or hostile server.
inline constexpr std::size_t kImapLineMax = 12u * 1024 * 1024;
// Largest literal kept in memory (header fields, names); a larger one that
// the client did not ask to stream is read and dropped.
inline constexpr std::size_t kImapKeptLiteral = 64 * 1024;
// The longest a command's UID set may grow before the command is split:
// well inside the line lengths servers accept (RFC 7162 3.2.1: 8192).
inline constexpr std::size_t kImapUidSetMax = 900;

// One response: its lines, and the literal that follows each line that
// announced one ("" when streamed or dropped).
struct ImapResponse {
  std::vector<std::string> lines;
  std::vector<std::string> literals;
};

// The UID sets of `uids` (ascending or not), each at most kImapUidSetMax
// bytes, runs written "a:b": "1:5,7,9:12".
std::vector<std::string> ImapUidSets(std::vector<std::uint32_t> uids);

class InetImap {
 public:
  explicit InetImap(InetPop3& session) : s_(session) {}

  // Connects to `host` (":port" overrides `port`), reads the greeting,
  // asks the capabilities, starts TLS as the channel's mode says and logs
  // in: LOGIN with the auth mode kPopAuthClassic (quoted strings, a literal
  // for a text with 8-bit bytes); AUTHENTICATE PLAIN for kPopAuthPlain;
  // XOAUTH2 (OAUTHBEARER when only that is offered) for kPopAuthToken.
  // Returns 1 logged in, else the POP3 client's codes: -100, -101, -102,
  // -200 no or negative greeting, -201 LOGIN refused, -400 to -405.
  int Login(const char* host, int port, const char* user, const char* password);
  void SetAuth(int mode) { authMode_ = mode; }

  // SELECT (or EXAMINE when `readOnly`) of `mailbox` (modified UTF-7).
  // Returns the message count (EXISTS) >= 0, with uidValidity set;
  // -203 refused or unanswered.
  int Select(const std::string& mailbox, bool readOnly);

  // UID SEARCH `criteria`; the UIDs found go to `uids` (replaced).
  // Returns 1; -204 refused, unanswered or malformed.
  int UidSearch(const char* criteria, std::vector<std::uint32_t>& uids);

  // The Message-Id field (raw, as the POP3 client captures it) of every
  // message of the mailbox, by UID: UID FETCH 1:* of the field alone.
  // `ids` receives (uid, value) pairs. Returns 1; -208 on failure.
  int FetchMessageIds(std::vector<std::pair<std::uint32_t, std::string>>& ids);

  // Fetches message `uid` (BODY.PEEK[]: the \Seen flag stays as it is)
  // into `sink` (bytes as the POP3 client's Retr writes them: CR LF line
  // ends, a leading "." doubled), streaming the literal; captures Message-Id, Subject and From and reports progress
  // at the header's end. Returns as soon as the message's data has come
  // (a server may send it before the tagged replies of commands sent
  // earlier; each tagged reply is passed over whenever it comes).
  // Returns 1; -210 the sink refused a write; -205 refused, no such
  // message or unanswered, or the response names another UID (wherever
  // its UID item stands; the connection is then dropped); -211
  // connection lost inside the message; kMessageTooLarge the literal is
  // larger than the message limit. On failure the sink holds what came.
  int FetchBody(std::uint32_t uid, LineSink& sink);

  // Sends the UID FETCH of `uid` ahead of its FetchBody (see
  // InetPop3::SendRetrAhead). Returns 1 sent; 0 not sent.
  int SendFetchAhead(std::uint32_t uid);

  // UID STORE +FLAGS.SILENT (`flags`) for `uids`. Returns 1; -211 refused
  // or unanswered.
  int StoreFlags(const std::vector<std::uint32_t>& uids, const char* flags);

  // Removes the messages `uids` (already marked \Deleted): UID EXPUNGE
  // when the server offers UIDPLUS; else EXPUNGE, only when no other
  // message of the mailbox is marked \Deleted. Returns 1 expunged; 0 left
  // for the server's own expunge at CLOSE (another message was marked, or
  // none to do); -211 refused or unanswered.
  int Expunge(const std::vector<std::uint32_t>& uids);

  // IDLE (RFC 2177) for at most `seconds`: returns 1 as soon as the
  // server reports a new message (EXISTS above the count of the last
  // SELECT), 0 when the time passed without one or `goOn` (asked about
  // once a second, when given) said to stop, -1 when the connection
  // ended, the channel was cancelled or IDLE was refused. A stop asked
  // for by `goOn` while IDLE starts or ends drops the connection (0).
  int Idle(int seconds, const std::function<bool()>& goOn = nullptr);

  // LOGOUT (its reply read, when the channel is usable) and Close.
  void Logout();

  bool HasCapability(const char* name) const { return ImapHasCapability(capabilities_, name); }

  std::uint32_t uidValidity = 0;  // of the last SELECT
  int exists = 0;                  // messages of the last SELECT (and EXISTS since)

 private:
  // Sends "TAG command" and returns the tag ("" when not sent).
  std::string Send(const std::string& command);
  // Reads responses until the tagged one of `tag` (tagged replies of
  // other commands are passed over); untagged ones go to `untagged` (may
  // be empty). The whole wait has one time-out, counted from here, and
  // `goOn` (when given) is asked before each response. Returns the tagged
  // status (kNone: cut, unanswered, timed out or stopped).
  ImapStatus Wait(const std::string& tag, const std::function<void(const ImapResponse&)>& untagged,
                  const std::function<bool()>& goOn = nullptr);
  // The channel's reply deadline, one time-out from now, for the life of
  // the object; the one before it comes back at its end.
  class ReplyClock {
   public:
    explicit ReplyClock(InetSocket& channel);
    ~ReplyClock();
    ReplyClock(const ReplyClock&) = delete;
    ReplyClock& operator=(const ReplyClock&) = delete;

   private:
    InetSocket& channel_;
    SocketDeadline saved_;
  };
  // Reads one response (lines and literals); with `streamBody` the
  // literal of a FETCH BODY[] of streamUid_ goes to streamSink_. Returns
  // false when cut.
  bool ReadResponse(ImapResponse& response, bool streamBody);
  bool ReadLine(std::string& line);
  // Notes EXISTS, capabilities and BYE of an untagged response.
  void NoteUntagged(const ImapResponse& response);
  // Streams a literal of `size` bytes into streamSink_. False when cut.
  bool StreamLiteral(std::uint64_t size);
  int Authenticate(const char* host, const char* user, const char* secret);
  int LoginCommand(const char* host, const char* user, const char* password);
  int ReportTlsFailure(int channelResult, const char* host);
  bool AskCapabilities();

  InetPop3& s_;
  int authMode_ = kPopAuthClassic;
  unsigned tagNumber_ = 0;
  std::string capabilities_;
  std::deque<std::pair<std::uint32_t, std::string>> ahead_;  // UID, tag of fetches sent ahead
  LineSink* streamSink_ = nullptr;  // FetchBody's sink while its literal comes
  bool streamWritten_ = true;        // every write to it succeeded
  bool streamCut_ = false;           // the literal ended early
  bool streamTooLarge_ = false;      // the literal is larger than the message limit
  std::uint32_t streamUid_ = 0;      // the UID whose BODY[] goes to streamSink_
  bool streamed_ = false;            // the last response streamed a literal
};

}  // namespace zel
