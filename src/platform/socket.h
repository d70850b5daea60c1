// Blocking IPv4 TCP sockets and the socket library's start-up and clean-up.
//
// Windows Sockets on Win32, BSD sockets on POSIX. Every client socket has
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

// Creates a TCP stream socket (AF_INET) with TCP_NODELAY set.
// Returns kNoSocket on failure.
SocketHandle SocketCreateTcp();

// Connects `s` to `address` (network byte order) and `port` (host order).
// Blocks until connected or refused. Returns true when connected.
bool SocketConnect(SocketHandle s, std::uint32_t address, int port);

// Sends all `size` bytes of `data`, looping on short sends and retrying an
// interrupted call. Never raises SIGPIPE. Returns true when every byte was
// accepted by the platform; false on any failure.
bool SocketSendAll(SocketHandle s, const void* data, std::size_t size);

// Receives once, at most `size` bytes. Returns the count received (> 0),
// 0 when the peer has closed the connection, -1 on failure. An interrupted
// call is retried.
long SocketRecv(SocketHandle s, void* buffer, std::size_t size);

// Shuts the connection down in both directions; a receive or send blocked in
// another thread returns at once. Safe on an already shut socket.
void SocketShutdown(SocketHandle s);

// Releases the socket. `s` must not be used afterwards.
void SocketClose(SocketHandle s);

// Opens a listening TCP socket on 127.0.0.1 at a free port (loopback test
// servers and benchmarks). Stores the port in `*port`. Returns kNoSocket on
// failure.
SocketHandle SocketListenLoopback(int* port);

// Waits for the next connection on `listener`. Returns its socket (with
// TCP_NODELAY set), or kNoSocket on failure or after SocketShutdown of the
// listener.
SocketHandle SocketAccept(SocketHandle listener);

}  // namespace zel
