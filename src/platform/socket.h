// IPv4 TCP sockets with deadlines and the socket library's start-up and
// clean-up.
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

// Looks `host` up as an IPv4 address: a dotted address is taken without a
// lookup, else the name is resolved and its first IPv4 address taken.
// On success stores the address in network byte order in `*address` and
// returns true; returns false for an empty host or a failed lookup.
bool ResolveIpv4(const char* host, std::uint32_t* address);

// Test seam: a lookup of host names (dotted addresses are never looked up)
// that stands in for the system resolver while set, so that tests can give
// names of their own an address. Returns the previous lookup; nullptr means
// the system resolver.
using NameLookup = bool (*)(const char* name, std::uint32_t* address);
NameLookup SetNameLookup(NameLookup lookup);

// A moment after which a socket call gives up: milliseconds on a monotonic
// clock, or kNoDeadline to wait for ever.
using SocketDeadline = std::int64_t;
inline constexpr SocketDeadline kNoDeadline = -1;

// The deadline `seconds` from now; kNoDeadline for 0 (or less) seconds.
SocketDeadline SocketDeadlineAfter(int seconds);

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

// Creates a non-blocking TCP stream socket (AF_INET) with TCP_NODELAY set;
// its calls block through SocketWait only. Returns kNoSocket on failure.
SocketHandle SocketCreateTcp();

// Connects `s` to `address` (network byte order) and `port` (host order),
// waiting until connected, refused or `deadline`.
// Returns kOk connected, kFailed refused or failed, kTimedOut.
SocketStatus SocketConnect(SocketHandle s, std::uint32_t address, int port,
                           SocketDeadline deadline);

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

// Waits for the next connection on `listener`. Returns its socket (with
// TCP_NODELAY set), or kNoSocket on failure or after SocketShutdown of the
// listener.
SocketHandle SocketAccept(SocketHandle listener);

}  // namespace zel
