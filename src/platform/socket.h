// TCP sockets over IPv4 and IPv6 with deadlines, name resolution, and the
// socket library's start-up and clean-up.
//
// Windows Sockets on Win32, BSD sockets on POSIX. Client sockets are
// non-blocking underneath: every wait goes through SocketWait, so connect,
// each receive and each send end at their deadline. Every client socket has
// TCP_NODELAY set: commands and the last short block of a file go out at
// once instead of waiting for the peer's delayed ACK. Sends never raise
// SIGPIPE on a connection the peer has closed; they fail instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zel {

// A socket of the platform (SOCKET or file descriptor), widened.
using SocketHandle = std::intptr_t;
// The no-socket marker (INVALID_SOCKET / -1).
inline constexpr SocketHandle kNoSocket = -1;

// Starts the socket library once more (Windows Sockets 1.1 on Win32; a
// counter on POSIX). Returns 0 on success, else the platform's error number.
int SocketStartup();

// Undoes one SocketStartup. Returns 0 on success, else the platform's error
// number (POSIX always succeeds).
int SocketCleanup();

// The last socket error number of the calling thread (WSAGetLastError/errno).
int LastSocketError();

// An IPv4 or IPv6 address, independent of the platform's sockaddr types.
struct IpAddress {
  int family = 0;                // 4 or 6; 0 for none
  std::uint8_t bytes[16] = {};   // network byte order; IPv4 in the first 4
  std::uint32_t scope = 0;       // IPv6 zone (interface index), 0 for none
};

// Text of an address with its zone ("2001:db8::1%2"), NUL included.
inline constexpr std::size_t kIpTextSize = 64;
// Addresses of one name kept at most: far more than any mail host has.
inline constexpr std::size_t kMaxAddresses = 16;

// ParseIpAddress - `text` as an address literal: a dotted IPv4 address, or
// an IPv6 address without brackets (a "%zone" allowed). Looks nothing up.
// Returns false when `text` is neither.
bool ParseIpAddress(const char* text, IpAddress* address);

// FormatIpAddress - the text form of `address` ("127.0.0.1", "::1") into
// `out` (capacity `size`, at least kIpTextSize for any address).
void FormatIpAddress(const IpAddress& address, char* out, std::size_t size);

// True for a loopback address: 127.0.0.0/8, ::1, and 127.0.0.0/8 mapped
// into IPv6 (::ffff:127.x.x.x).
bool IsLoopbackAddress(const IpAddress& address);

// Outcome of a name resolution.
enum class LookupStatus {
  kOk,
  kNoSuchHost,  // the name (or an address of it) does not exist
  kTemporary,   // the resolver could not answer now (try again later)
  kFailed,      // any other failure, an empty name among them
};

// ResolveHost - the addresses of `host`, in the order connections should
// try them: an address literal as it stands; a name through the test
// lookup when one is set, else the system resolver (getaddrinfo, any
// family), whose order is kept, without repeats, at most kMaxAddresses.
// `addresses` is replaced; it holds at least one address on kOk.
LookupStatus ResolveHost(const char* host, std::vector<IpAddress>& addresses);

// Test seam: a lookup of host names (address literals are never looked
// up) that stands in for the system resolver while set, so that tests can
// give names of their own addresses of either family, in an order of
// their own. Returns the previous lookup; nullptr means the system
// resolver.
using NameLookup = LookupStatus (*)(const char* name, std::vector<IpAddress>& addresses);
NameLookup SetNameLookup(NameLookup lookup);

// A moment after which a socket call gives up: milliseconds on a monotonic
// clock, or kNoDeadline to wait for ever.
using SocketDeadline = std::int64_t;
inline constexpr SocketDeadline kNoDeadline = -1;

// The deadline `seconds` from now; kNoDeadline for 0 (or less) seconds.
SocketDeadline SocketDeadlineAfter(int seconds);
// The deadline `milliseconds` (>= 0) from now.
SocketDeadline SocketDeadlineAfterMs(int milliseconds);

// Milliseconds left until `deadline` (0 when it has passed), or -1 for
// kNoDeadline: the timeout argument of one wait.
long long SocketTimeLeft(SocketDeadline deadline);

// Outcome of a connect, a send or a wait.
enum class SocketStatus { kOk, kFailed, kTimedOut };

// What a wait waits for: data to read (or the end of the connection, or an
// error) / room to write.
enum class SocketEvent { kReadable, kWritable };

// Waits until `s` is ready for `event` or `deadline` passes. A socket shut
// down by SocketShutdown in another thread counts as ready, so the caller's
// next read or write fails at once. This one primitive bounds every blocking
// step; a layer above the socket (TLS) waits with it too.
// Returns kOk ready, kTimedOut, kFailed.
SocketStatus SocketWait(SocketHandle s, SocketEvent event, SocketDeadline deadline);

// Result values of SocketRecv besides a count.
inline constexpr long kSocketFailed = -1;
inline constexpr long kSocketTimedOut = -2;

// Creates a non-blocking TCP stream socket of address family `family` (4
// or 6) with TCP_NODELAY set; its calls block through SocketWait only.
// Returns kNoSocket on failure.
SocketHandle SocketCreateTcp(int family = 4);

// Connects `s` (made for the family of `address`) to `address` and `port`
// (host order), waiting until connected, refused or `deadline`. On kFailed
// `*error` (when given) receives the platform's error number, else 0.
// Returns kOk connected, kFailed refused or failed, kTimedOut.
SocketStatus SocketConnect(SocketHandle s, const IpAddress& address, int port,
                           SocketDeadline deadline, int* error = nullptr);

// SocketConnectBegin - starts connecting `s` to `address` and `port`
// without waiting. Returns 0 when connected at once, kConnectPending while
// the connect goes on (wait for kWritable, then SocketConnectError), or
// the platform's error number.
inline constexpr int kConnectPending = -1;
int SocketConnectBegin(SocketHandle s, const IpAddress& address, int port);

// SocketConnectError - the outcome of a started connect once its socket is
// ready: 0 connected, else the platform's error number.
int SocketConnectError(SocketHandle s);

// SocketWaitAny - waits until one of the `count` (at most kMaxAddresses)
// sockets `sockets` is ready for `event` (a failed connect counts as ready) or `deadline`
// passes. Returns the index of a ready socket, -1 when the deadline
// passed, -2 on failure.
int SocketWaitAny(const SocketHandle* sockets, std::size_t count, SocketEvent event, SocketDeadline deadline);

// What a failed connect's error number means to a user.
enum class ConnectError {
  kRefused,      // nothing listens there
  kUnreachable,  // no route to the network or the host
  kOther,
};
ConnectError ConnectErrorOf(int error);

// Sends all `size` bytes of `data`, looping on short sends and retrying an
// interrupted call, until `deadline`. Never raises SIGPIPE.
// Returns kOk when every byte was accepted by the platform, kTimedOut when
// the deadline passed first, kFailed on any other failure.
SocketStatus SocketSendAll(SocketHandle s, const void* data, std::size_t size,
                           SocketDeadline deadline);

// Receives once, at most `size` bytes, waiting until `deadline`. Returns the
// count received (> 0), 0 when the peer has closed the connection (or the
// socket was shut down), kSocketFailed, or kSocketTimedOut. An interrupted
// call is retried.
long SocketRecv(SocketHandle s, void* buffer, std::size_t size, SocketDeadline deadline);

// Shuts the connection down in both directions; a receive or send blocked in
// another thread returns at once. Safe on an already shut socket.
void SocketShutdown(SocketHandle s);

// Releases the socket. `s` must not be used afterwards.
void SocketClose(SocketHandle s);

// Opens a listening TCP socket on 127.0.0.1 at a free port (loopback test
// servers and benchmarks) with room for `backlog` waiting connections (-1:
// the platform's most). Stores the port in `*port`. Returns kNoSocket on
// failure.
SocketHandle SocketListenLoopback(int* port, int backlog = -1);

// The same on `address` (an IPv6 one listens on IPv6 only), for a test
// server that must not look local to the client or speaks IPv6. A non-zero
// `*port` asks for that port; 0 takes a free one. Stores the port.
SocketHandle SocketListenAt(const IpAddress& address, int* port, int backlog = -1);

// Waits for the next connection on `listener`. Returns its socket (with
// TCP_NODELAY set), or kNoSocket on failure or after SocketShutdown of the
// listener.
SocketHandle SocketAccept(SocketHandle listener);

}  // namespace zel
