// SOCKS5 (RFC 1928) for the connections of the line channel: the proxy
// connects to the mail server, the server's name is resolved by the proxy.
// Without authentication or with a user name and password (RFC 1929).
#pragma once

#include <string>

#include "platform/socket.h"
#include "platform/sjis_text.h"

namespace zel {

// Longest user name and password RFC 1929 carries.
inline constexpr std::size_t kSocks5FieldMax = 255;

// A proxy setting: "host:port" or "user:password@host:port" (IPv6 hosts
// in brackets); the password may hold any byte but the last "@".
struct Socks5Proxy {
  char host[kHostNameSize] = {};  // empty: no proxy
  int port = 0;
  std::string user;
  std::string password;
  bool Given() const { return host[0] != '\0'; }
};

// ParseSocks5Proxy - reads `text` into `proxy`; "" clears it. Returns false
// (and `proxy` cleared) for a text of another form, a port missing or out
// of range, or a user name or password longer than kSocks5FieldMax.
bool ParseSocks5Proxy(const char* text, Socks5Proxy& proxy);

// Socks5Connect - on the socket `s`, connected to the proxy, asks it to
// connect to `host` (a name the proxy resolves, or an address) at `port`,
// each step waiting until `deadline`. Returns "" once the proxy has
// connected, else why not (Shift-JIS: the proxy's reply, a refused login
// or method, a time-out, a malformed answer).
std::string Socks5Connect(SocketHandle s, const Socks5Proxy& proxy, const char* host, int port,
                          SocketDeadline deadline);

}  // namespace zel
