// TLS client sessions over a connected socket, with verified certificates.
//
// OpenSSL on POSIX, SChannel on Win32. The server's certificate chain must
// lead to a certificate of the system's trust store or of an extra PEM file
// (`caFile`), and the certificate must name the server: a host name is
// checked against its DNS names, an IPv4 or IPv6 address against its IP
// addresses. There is no way to turn the checks off.
//
// Every step waits through SocketWait, so it ends at its deadline, and a
// socket shut down from another thread (SocketShutdown) makes a waiting step
// fail at once. One thread uses a session at a time; TlsFree must wait until
// no thread is inside a call on it.
#pragma once

#include <cstddef>

#include "platform/socket.h"

namespace zel {

// The backend's state of one session (SSL object or SChannel context).
struct TlsSession;

// Outcome of a handshake.
enum class TlsStatus {
  kOk,
  kFailed,        // no TLS session came about (protocol, peer closed, I/O)
  kUntrusted,     // the chain leads to no trusted certificate, or is invalid
  kNameMismatch,  // trusted, but the certificate does not name the server
  kTimedOut,      // the deadline passed first
};

// Longest reason text TlsConnect writes (NUL included): room for an
// untrusted certificate's subject, issuer and fingerprint.
inline constexpr std::size_t kTlsDetailSize = 512;

// Hex digits of a SHA-256 fingerprint.
inline constexpr std::size_t kTlsFingerprintDigits = 64;

// What a handshake accepts beyond the certificate checks.
struct TlsPolicy {
  // Shift-JIS path of a PEM file of extra trusted certificates, or nullptr
  // / "" for the system's trust store alone.
  const char* caFile = nullptr;
  // SHA-256 of the server certificate (kTlsFingerprintDigits lower-case hex
  // digits), or nullptr / "": when given, that certificate is accepted
  // whoever issued it and whatever it names, and no other is.
  const char* fingerprint = nullptr;
  // The oldest protocol version taken: 12 (TLS 1.2) or 13 (TLS 1.3).
  int minVersion = 12;
};

// NormaliseFingerprint - a SHA-256 fingerprint as written by people and
// tools ("AB:CD:...", "abcd...", blanks allowed) in the form TlsPolicy
// takes. Returns false when it is no SHA-256 fingerprint.
bool NormaliseFingerprint(const char* text, char (&out)[kTlsFingerprintDigits + 1]);

// TlsConnect - runs the client handshake on the connected socket `s`.
//   serverName  host name or IPv4/IPv6 address (no brackets, no port); sent as
//               the server name indication when it is a host name
//   policy      the extra CA file, a pinned fingerprint, the oldest version
//   deadline    when the whole handshake gives up
//   session     receives the new session on kOk (else nullptr)
//   detail      receives a short ASCII reason on failure (capacity
//               kTlsDetailSize; "" on kOk)
// Returns kOk, kFailed, kUntrusted, kNameMismatch or kTimedOut. A CA file
// that cannot be read or holds no certificate gives kUntrusted; so does a
// certificate other than the pinned one. The detail of an untrusted
// certificate names its subject, issuer and SHA-256 fingerprint.
TlsStatus TlsConnect(SocketHandle s, const char* serverName, const TlsPolicy& policy,
                     SocketDeadline deadline, TlsSession** session, char* detail);

// TlsRecv - receives decrypted bytes, at most `size`, waiting until
// `deadline`; bytes already decrypted are returned without waiting.
// Returns the count (> 0), 0 when the peer ended the session or closed the
// connection (or the socket was shut down), kSocketFailed, or
// kSocketTimedOut.
long TlsRecv(TlsSession* session, void* buffer, std::size_t size, SocketDeadline deadline);

// TlsSendAll - encrypts and sends all `size` bytes, waiting until `deadline`.
// Returns kOk, kTimedOut or kFailed.
SocketStatus TlsSendAll(TlsSession* session, const void* data, std::size_t size,
                        SocketDeadline deadline);

// TlsNotifyClose - sends the close_notify alert if the socket takes it at
// once; never waits. For an orderly end, after the last command.
void TlsNotifyClose(TlsSession* session);

// TlsFree - releases the session (nullptr is allowed). The socket stays open.
void TlsFree(TlsSession* session);

}  // namespace zel
