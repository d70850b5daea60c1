// InetSocket: the blocking, line-oriented TCP channel of both mail clients.
//
// One connection to a server given by name or dotted address, replies read
// one line at a time through a 4096-byte receive buffer, command lines sent
// with CR LF, and prepared files streamed unchanged. The channel writes no log
// and reports by results only; the POP3 and SMTP clients derive from it.
//
// TLS: with SetTls a connection is encrypted right after connecting
// (implicit TLS) or when the client calls StartTls after the server agreed
// (STLS, STARTTLS); lines, blocks, files, time-outs and cancel then work the
// same over the encrypted connection. The server's certificate is always
// verified (tls/tls.h).
//
// Time-outs: connect and every single receive or send wait at most the
// channel's time-out (SetTimeout; 0 waits for ever). A step that times out
// fails, and the channel then counts as timed out until the next Connect:
// later receives and sends fail at once, so the operation ends at the step
// that waited, and TimeoutNote() lets the client's log entry say so.
//
// Threads: one thread uses a channel at a time, except that another thread
// may call Disable() and then Quit() or Close() to cancel, or Retire() to
// cancel for good. The socket is shut down at once (a blocked wait returns),
// and released only when the user thread has left its socket call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/failure_note.h"
#include "net/protocol_trace.h"
#include "net/socks5.h"
#include "platform/sjis_text.h"
#include "platform/socket.h"
#include "tls/tls.h"

namespace zel {

// Reply line and receive buffer capacity (bytes, NUL included in replyLine).
inline constexpr std::size_t kReplyLineSize = 4096;
// Bytes per receive, per stored line piece and per file block: one less than
// the buffers so a piece always has room for its NUL.
inline constexpr std::size_t kRecvBlockSize = kReplyLineSize - 1;
// A formatted command and its NUL.
inline constexpr std::size_t kCommandSize = 1024;
// Seconds a connect, a receive or a send may wait by default: long enough
// for a slow server, short enough that a silent one does not hang a host.
inline constexpr int kDefaultTimeoutSeconds = 300;

// TLS of the connections to come (SetTls): none; a handshake right after
// connecting (implicit TLS: POP3S, SMTPS); or one the client starts with
// StartTls once the server has agreed to STLS or STARTTLS.
inline constexpr int kTlsOff = 0;
inline constexpr int kTlsImplicit = 1;
inline constexpr int kTlsStartTls = 2;

// Results of both clients for the steps of encryption and authentication;
// the session takes them as its error numbers.
inline constexpr int kTlsHandshakeFailed = -400;  // no TLS session came about
inline constexpr int kTlsUntrusted = -401;        // certificate not trusted
inline constexpr int kTlsNameMismatch = -402;     // certificate names another host
inline constexpr int kTlsNotOffered = -403;       // STLS / STARTTLS not offered or refused
inline constexpr int kAuthRefused = -404;         // AUTH not offered or refused
inline constexpr int kAuthUnencrypted = -405;     // AUTH refused here: plain and remote

// What a client reports for a failed TLS step (Connect or StartTls result
// -4, -5 or -6): its result code and the format of its log entry, which
// takes the host, TlsDetail() and TimeoutNote().
struct TlsFailure {
  int code;
  const char* logFormat;
};
TlsFailure DescribeTlsFailure(int channelResult);

// Splits a server name into its host and port. The forms: "name",
// "name:port", "1.2.3.4:port", "[2001:db8::1]:port", "[2001:db8::1]" and
// a bare IPv6 address "2001:db8::1" (a text with two or more colons and no
// brackets is an address, never an address and a port). A port is a
// number from 1 to 65535; after a name or IPv4 address, a colon followed
// by anything else stays part of the name, as it always did. Writes the
// host (without brackets) to `name` (capacity `nameSize`) and the port,
// or `defaultPort`, to `*port`.
// Returns false when `server` is absent, its host part is empty or does not
// fit `name` (a cut name would be another host), or a bracketed address
// is not closed or not followed by nothing or ":port".
bool SplitServerName(const char* server, int defaultPort, char* name,
                     std::size_t nameSize, int* port);

class InetSocket {
 public:
  InetSocket();
  ~InetSocket();  // closes a socket still held (as Close)
  InetSocket(const InetSocket&) = delete;
  InetSocket& operator=(const InetSocket&) = delete;

  // Connects to `host` in any form of SplitServerName (a ":port"
  // overrides `port`). An address needs no lookup; a name is resolved for
  // both IPv4 and IPv6 and its addresses are raced as RFC 8305 does (the
  // families in turn, the next attempt 250 ms after the last unless that
  // failed sooner, the first to connect wins), all within one time-out. A socket
  // still held is closed first. Does not change `enabled`: a channel
  // disabled by a cancel stays disabled, and a cancel ends the attempts.
  // With implicit TLS the handshake follows (see StartTls).
  // Returns 1 connected; -1 no host, a host text of kHostNameSize bytes or
  // more (never looked up cut), or the name does not resolve; -2 no socket
  // can be created; -3 every connection attempt failed or timed out (the
  // last socket stays held until Quit or Close); -4 -5 -6 as StartTls.
  int Connect(const char* host, int port);

  // Sets the TLS of the connections to come: kTlsOff, kTlsImplicit or
  // kTlsStartTls, and the extra CA file (Shift-JIS path; nullptr or "" for
  // the system's trust store alone).
  void SetTls(int mode, const char* caFile);
  int TlsMode() const { return tlsMode_; }
  // The certificate pinned by its SHA-256 fingerprint (TlsPolicy form, ""
  // for none) and the oldest TLS version taken (12 or 13), for the
  // connections to come.
  void SetTlsPins(const char* fingerprint, int minVersion);
  // The SOCKS5 proxy of the connections to come (`proxy.Given()` false:
  // none): Connect reaches the proxy, which connects to the server.
  void SetProxy(const Socks5Proxy& proxy) { proxy_ = proxy; }
  // The protocol trace of the lines sent and received (option DEBUG).
  ProtocolTrace& Trace() { return trace_; }

  // Runs the TLS handshake on the connection, checking the certificate
  // against the name given to Connect (without its port). Bytes received
  // before it and not yet read are dropped: they came unprotected.
  // Returns 1 encrypted; -4 the handshake failed or timed out; -5 the
  // certificate is not trusted; -6 it names another host. On failure the
  // connection is closed: nothing more goes over it, QUIT included.
  int StartTls();

  // True while the connection is encrypted.
  bool IsEncrypted() const;
  // True when the address connected to is a loopback address
  // (127.0.0.0/8, ::1).
  bool PeerIsLoopback() const;
  // The reason of the last failed handshake (ASCII), for log entries.
  const char* TlsDetail() const { return tlsDetail_; }

  // Shuts the connection down both ways and releases the socket (at once, or
  // when the user thread leaves its socket call). Returns 1 after closing;
  // 0 when no socket is held.
  int Close();

  // Next received byte as 0..255 (every value is data), or -1 when the
  // connection delivers no more data. While disabled, bytes still buffered
  // are delivered but no new receive is made.
  int RecvChar();

  // Reads one reply line into replyLine (NUL-terminated, without CR LF).
  // A line ends at CR LF; a LF without CR before it is data; a NUL ends the
  // text (the rest comes back as the next line); a piece of 4095 bytes is
  // returned as a line of its own. Returns 0 when no line could be read (a
  // partly read line is discarded; a NUL as first byte also gives 0);
  // otherwise the count of bytes stored before the end (1 for CR LF alone).
  int RecvLine();

  // Reads the next piece of one physical data line into `buffer` (capacity
  // `size` >= 2, no NUL is added): bytes up to its CR LF, which is consumed
  // and not stored. Every byte, NUL included, is data; a lone LF is data.
  // Returns the count stored and sets `*state`: kLineEnded when the CR LF
  // was consumed, kLinePiece when `size` - 1 bytes were stored and the line
  // goes on (call again for the rest), kLineCut when the connection ended
  // first (the bytes stored are the line's last ones received).
  enum LineState { kLineEnded, kLinePiece, kLineCut };
  std::size_t RecvLinePiece(char* buffer, std::size_t size, LineState* state);

  // Reads up to `size` bytes as they come (those buffered first, else one
  // receive) into `buffer`: the bytes of a counted block such as an IMAP
  // literal. Returns the count (> 0), or 0 when the connection delivers
  // no more data.
  std::size_t RecvBytes(char* buffer, std::size_t size);

  // Waits at most `seconds` (> 0) for data to read, without counting as a
  // time-out of the channel: the wait of a client that idles on purpose.
  // Returns 1 when data is buffered or arrives (or the connection ends:
  // the next receive tells), 0 when the time passed, -1 when no socket is
  // held or the channel is disabled.
  int WaitForData(int seconds);

  // Sends `text` followed by CR LF, unchanged. Returns 0 when disabled, when
  // `text` holds a CR or LF (nothing is sent: it would be two commands), or
  // on a send failure; otherwise strlen(text) + 2.
  int SendLine(const char* text);

  // Formats a command (printf conventions, at most 1023 bytes; a longer one
  // is refused with 0 rather than cut) and sends it with SendLine.
  int SendCommand(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // Streams the open binary `file` from its current position in 4095-byte
  // blocks, bytes unchanged, nothing added. Returns 1 when the whole file was
  // sent (an empty file sends nothing); 0 for a null file, a read error, a
  // send failure or a disabled channel.
  int SendFileData(std::FILE* file);

  // Sends "QUIT" (nothing while disabled), does not read the reply, ends an
  // encrypted session with its close_notify alert, closes. Always returns 1.
  int Quit();

  // Sets / clears the cancellation switch. Disable may be called from another
  // thread than the one using the channel. Enable does nothing once retired.
  void Enable();
  void Disable();
  bool IsEnabled() const { return enabled.load(); }

  // Cancels for good, for an owner that is going away: disables the channel
  // and closes its socket (a blocked connect, receive or send returns at
  // once), and every later Connect fails (-3) without connecting. May be
  // called from another thread than the one using the channel.
  void Retire();

  // Seconds each connect, receive or send may wait; 0 (or less) waits for
  // ever. Takes effect at the next socket call.
  void SetTimeout(int seconds);

  int Timeout() const { return timeoutSeconds_; }

  // A deadline over all the receives of one reply (kNoDeadline: none):
  // while set, a receive waits at most until it, and once it has passed
  // the next receive fails as a time-out. A server that keeps sending
  // other lines cannot hold a command past it.
  void SetReplyDeadline(SocketDeadline deadline) { replyDeadline_ = deadline; }
  SocketDeadline ReplyDeadline() const { return replyDeadline_; }

  // True when a step timed out since the last Connect.
  bool TimedOut() const { return timedOut_; }
  // " (タイムアウト N秒)" after a time-out, else "": appended to the
  // clients' log entries, which stay unchanged for other failures.
  const char* TimeoutNote() const { return timedOut_ ? timeoutNote_ : ""; }

  // True while a socket is held.
  bool IsConnected() const;

  // Why the last operation failed (empty after a Connect until something
  // fails). The clients add the server's side with NoteReplyFailure.
  const FailureNote& Failure() const { return failure_; }
  void NoteFailure(FailureKind kind, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  // Notes why a command got no acceptable reply: the reply line as `refused`
  // when one was read; else a time-out (with a hint when nothing at all
  // came since connecting: a port that speaks TLS from the first byte), the
  // server hanging up, or a cancel.
  void NoteReplyFailure(FailureKind refused);
  // Takes `line` (cut to replyLine's size) as the last reply line, or,
  // with `got` false, notes that no line came: for a client that reads
  // its lines in pieces (ReplyNote and NoteReplyFailure then tell of it).
  void SetReplyLine(std::string_view line, bool got);
  // " " and the last reply line when the last command got one, else "":
  // appended to the clients' log entries of refused commands.
  const char* ReplyNote() const;

  // Host text and port of the last successful Connect (port after a
  // "name:port" override), and the host without port and brackets.
  const char* Host() const { return host; }
  int Port() const { return port; }
  const char* ServerName() const { return serverName_; }

  // The last line read by RecvLine (overwritten by SendFileData).
  char replyLine[kReplyLineSize];

 protected:
  // Sends raw bytes on the held socket. Returns true when all were sent.
  bool SendRaw(const void* data, std::size_t size);

 private:
  // The socket and its TLS session (nullptr when not encrypted).
  struct Link {
    SocketHandle socket = kNoSocket;
    TlsSession* tls = nullptr;
  };
  // Takes the held link for one call (socket kNoSocket when none) / gives it
  // back; a link closed meanwhile by another thread is released on
  // give-back.
  Link AcquireLink();
  void ReleaseLink();
  static void ReleaseNow(const Link& link);
  // Refills recvBuffer once. Returns false when no more data comes.
  bool Refill();
  // Records a time-out of the current step.
  void NoteTimeout();
  // Asks the proxy on the connected socket `s` for the server `name` at
  // `targetPort`. False (the failure noted, the socket closed) when it
  // does not connect.
  bool ThroughProxy(SocketHandle s, const char* name, int targetPort);

  mutable std::mutex guard_;  // socketHandle, tls_, usersInCall_, pendingRelease_, retired_
  SocketHandle socketHandle = kNoSocket;
  TlsSession* tls_ = nullptr;  // the session over socketHandle, if encrypted
  int usersInCall_ = 0;
  std::vector<Link> pendingRelease_;  // shut down, released later

  char host[kHostNameSize] = {};
  char serverName_[kHostNameSize] = {};  // host without ":port" and brackets, for TLS
  int port = 0;
  IpAddress peerAddress_;  // the address connected to
  FailureNote failure_;
  // The last RecvLine read a line. Atomic: a Quit from the dialog's thread
  // clears it while the worker's command may too.
  std::atomic<bool> gotLine_{false};
  std::size_t received_ = 0;        // bytes received since connecting
  mutable std::string replyNote_;   // ReplyNote's text

  unsigned char recvBuffer[kReplyLineSize];
  std::size_t recvCursor_ = 0;
  std::size_t recvEnd_ = 0;
  std::atomic<bool> enabled{true};
  bool retired_ = false;  // guarded by guard_

  int tlsMode_ = kTlsOff;
  char caFile_[kPathSize] = {};
  char tlsFingerprint_[kTlsFingerprintDigits + 1] = {};
  int tlsMinVersion_ = 12;
  Socks5Proxy proxy_;
  ProtocolTrace trace_;
  bool proxied_ = false;  // the connection goes through proxy_
  char tlsDetail_[kTlsDetailSize] = {};

  int timeoutSeconds_ = kDefaultTimeoutSeconds;
  SocketDeadline replyDeadline_ = kNoDeadline;
  bool timedOut_ = false;
  char timeoutNote_[48] = {};
};

}  // namespace zel
