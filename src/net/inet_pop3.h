// InetPop3: the POP3 (RFC 1939) client of a session, USER/PASS or APOP.
//
// Logs in, fetches the STAT/LIST/UIDL listing once and hands out message
// numbers one at a time, retrieves a message byte-exact into a file while
// capturing Message-Id, Subject and From, reads headers only (TOP), deletes,
// and counts. Every failure writes one log entry (module InetPop3) and
// returns a negative code; the connection then stays open for the caller to
// Quit. The session object (InetMail) derives from this class.
//
// Connecting never re-enables a channel a cancel has disabled: every
// operation calls Enable() on the channel when it starts.
//
// The listing belongs to one connection: Login starts without one, and the
// end of the connection (Quit, Close, a failed login, a cancel) discards it,
// so no number of one maildrop is ever used on another.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <string>
#include <thread>

#include "codec/line_stream.h"
#include "platform/sjis_text.h"
#include "net/inet_socket.h"
#include "net/message_listing.h"
#include "net/recv_progress.h"
#include "net/sasl.h"

namespace zel {

// A unique id and its NUL: RFC 1939 allows 70 characters; longer ones are
// cut to 71.
inline constexpr std::size_t kUidlSize = 72;
// A captured header value: one message line, NUL included.
inline constexpr std::size_t kCapturedValueSize = kLineSize;
// How Login authenticates (SetAuth): USER/PASS or APOP as the apop flag
// says; AUTH PLAIN (RFC 5034) with the password; AUTH XOAUTH2, or
// OAUTHBEARER when the server offers only that, with the password taken as
// an OAuth 2.0 access token.
inline constexpr int kPopAuthClassic = 0;
inline constexpr int kPopAuthPlain = 1;
inline constexpr int kPopAuthToken = 2;
// Most messages a listing takes: a STAT count above it fails as a listing
// failure (-204) instead of letting a server claim the host's memory.
inline constexpr int kMaxListing = 1000000;

// Retr / FetchBody: the message grew past the limit of SetMessageLimit
// (the connection was dropped without QUIT, so nothing of the session's
// deletions takes effect).
inline constexpr int kMessageTooLarge = -215;

// One entry of the listing, as NextMessage hands it out.
struct MessageEntry {
  int number = 0;          // message number from the LIST line
  const char* uidl = "";   // from the UIDL line; empty when none
  std::uint32_t octets = 0;  // size from the LIST line (MessageListing::kMaxOctets at most)
};

// The most of a header block Top keeps: headers are far smaller.
inline constexpr std::size_t kHeaderBlockMax = 256 * 1024;

class InetPop3 : public InetSocket {
 public:
  InetPop3();

  // Connects to `host` (":port" overrides `port`), reads the greeting and
  // logs in: USER/PASS when `apop` is 0, else APOP with the MD5 digest of the
  // greeting's last <timestamp> followed by the password; with SetAuth 1 or
  // 2 by AUTH instead (CAPA first for 2, to see whether XOAUTH2 or only
  // OAUTHBEARER is offered). With implicit TLS (SetTls) the connection is
  // encrypted first; with kTlsStartTls the client sends STLS after the
  // greeting and logs in only over the encrypted connection.
  // Returns 1 logged in; -100 no host / name does not resolve; -101 no
  // socket; -102 connection failed; -200 no or negative greeting; -201 USER
  // or PASS refused; -213 APOP chosen but the greeting has no timestamp;
  // -214 APOP refused; -400 TLS handshake failed; -401 certificate not
  // trusted; -402 certificate names another host; -403 STLS refused (no
  // USER, PASS or APOP is sent); -404 AUTH refused; -405 AUTH refused
  // before the greeting is read, the connection being plain and the server
  // not on a loopback address. The connection may stay open on failure.
  // Failure() tells why.
  int Login(const char* host, int port, const char* user,
            const char* password, int apop);

  // Sets how the logins to come authenticate: kPopAuthClassic,
  // kPopAuthPlain or kPopAuthToken.
  void SetAuth(int mode) { authMode_ = mode; }

  // Next message number of the listing; the first call of a connection (or
  // the call after the end) sends STAT, LIST and UIDL. Returns a number > 0;
  // 0 when there is no further message (the listing is then discarded) or
  // STAT gives 0; -203 STAT failed; -204 LIST failed or cut, or STAT counts
  // more than kMaxListing messages; -208 UIDL unanswered or cut.
  // After a number, CurrentEntry() is that message's entry.
  int NextMessage();

  // The entry NextMessage last returned (its uidl valid until the next
  // NextMessage or the end of the connection); nullptr when no listing is
  // held. Costs no more than an index.
  const MessageEntry* CurrentEntry() const;

  // The listing and the index of the current entry in it.
  const MessageListing& Listing() const { return listing_; }
  std::size_t CurrentIndex() const { return currentIndex_; }

  // Quit and Close of the channel that also discard the listing when called
  // by the thread that logged in; another thread (a cancel) ends only the
  // connection, and the listing goes at that thread's next NextMessage.
  int Quit();
  int Close();

  // Retrieves message `number` into the file `path` (created or truncated,
  // binary): every line as the server sent it (dot-stuffing kept, NUL bytes
  // and long lines whole) ending CR LF, without the final "." line. Captures
  // messageId, subject and from from the header; at the header's end counts
  // retrievedCount and sends a RecvProgress record to progressWindow.
  // Returns 1; -210 file cannot be created; -205 RETR refused/unanswered;
  // -211 connection lost before "."; kMessageTooLarge past the message
  // limit. On failure the file keeps what came.
  int Retr(int number, const char* path);

  // The most bytes a retrieved message may have (its size as LIST counts
  // it: lines ending CR LF, without dot-stuffing), whatever the listing
  // said; 0 for none. A message that grows past it is not read further:
  // the connection is dropped (no QUIT) and the retrieval fails with
  // kMessageTooLarge. For the retrievals of both protocols.
  void SetMessageLimit(std::uint64_t bytes) { messageLimit_ = bytes; }
  std::uint64_t MessageLimit() const { return messageLimit_; }
  // Drops the connection for a message past the limit: notes it (`what`
  // names the message, "3" or "UID 7") and closes without QUIT. Returns
  // kMessageTooLarge.
  int RefuseTooLarge(const std::string& what);

  // As Retr above, the same bytes written to `out` in blocks instead of a
  // file. A failed write of `out` gives -210 once the message has been read
  // to its end (logged with `name`, what `out` stands for).
  int Retr(int number, LineSink& out, const char* name);

  // Sends "RETR number" ahead of its Retr, so that the server prepares the
  // message while the caller still works on those before. The commands
  // that follow on the connection must be the Retr calls of the messages
  // sent ahead, in order, which then only read their replies (after any
  // failure the caller ends the connection). Returns 1 sent; 0 not sent
  // (Retr sends it itself).
  int SendRetrAhead(int number);

  // Sends "TOP number lines" and captures messageId, subject and from from
  // the header lines; with `header`, keeps the header block there too: its
  // lines dot-unstuffed, each ending with LF, up to the empty line (not
  // kept), at most kHeaderBlockMax bytes. Returns 1; -206 refused,
  // unanswered or cut off.
  int Top(int number, int lines, std::string* header = nullptr);

  // Marks message `number` for deletion. Returns 1; -211 on failure.
  int Dele(int number);

  // Message count from STAT (>= 0; a count beyond the int range gives the
  // largest int); -203 on failure.
  int Stat();

  // Captures messageId, subject or from from one header line (without its
  // line end; a continuation line extends the field before it), and counts
  // one retrieval and reports it to progressWindow: the steps of a
  // retrieval that the IMAP client on this session's channel takes as well.
  void CaptureHeader(const char* line, std::size_t length);
  void ReportProgress();
  // Empties the captured values before a message's header.
  void StartCapture() {
    messageId[0] = subject[0] = from[0] = '\0';
    continued_ = nullptr;
  }

  // Last captured header values, raw (leading blanks kept, not decoded);
  // Subject and From with their continuation lines, unfolded.
  char messageId[kCapturedValueSize] = {};
  char subject[kCapturedValueSize] = {};
  char from[kCapturedValueSize] = {};

  WindowHandle progressWindow = 0;  // receiver of RecvProgress; 0 = none
  // How the record's Subject and From are decoded (the session's DECODE).
  DecodeMode progressDecoding = DecodeMode::kAnyCharset;
  int totalCount = 0;               // STAT count of the last listing
  int retrievedCount = 0;           // retrievals since the last listing

 private:
  int LoginApop(const char* greeting, const char* user, const char* password);
  // AUTH of the auth mode. Returns 1 or kAuthRefused (logged).
  int Authenticate(const char* host, const char* user, const char* secret);
  // The SASL mechanisms CAPA lists (none when CAPA is refused).
  SaslMechanisms Capabilities();
  // Logs a failed TLS step (channel result -4, -5, -6); returns its code.
  int ReportTlsFailure(int channelResult, const char* host);
  int FetchListing();
  void DiscardListing();
  void DiscardListingIfOwner();
  char* continued_ = nullptr;  // the captured field a continuation line extends

  // Listing of this connection's STAT/LIST/UIDL exchange and the position
  // of the entry NextMessage last returned.
  MessageListing listing_;
  std::size_t currentIndex_ = 0;
  std::deque<int> retrAhead_;  // messages whose RETR went out ahead, in order
  mutable MessageEntry current_;
  std::atomic<std::thread::id> owner_{};  // the thread of the last Login
  int authMode_ = kPopAuthClassic;
  std::uint64_t messageLimit_ = 0;  // SetMessageLimit; 0 none
};

}  // namespace zel
