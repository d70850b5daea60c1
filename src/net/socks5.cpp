#include "net/socks5.h"

#include <cstring>
#include <string_view>

namespace zel {

namespace {

constexpr unsigned char kVersion = 5;
constexpr unsigned char kNoAuthentication = 0;
constexpr unsigned char kUserPassword = 2;
constexpr unsigned char kNoMethod = 0xFF;
constexpr unsigned char kConnect = 1;
constexpr unsigned char kIpv4 = 1;
constexpr unsigned char kDomain = 3;
constexpr unsigned char kIpv6 = 4;

// The replies of RFC 1928 section 6, as the failure tells them.
const char* ReplyText(unsigned char code) {
  switch (code) {
    case 1: return "SOCKSサーバの一般的な失敗";
    case 2: return "規則により接続が許可されない";
    case 3: return "ネットワークに到達できない";
    case 4: return "ホストに到達できない";
    case 5: return "接続を拒否された";
    case 6: return "TTLが切れた";
    case 7: return "コマンドが使えない";
    case 8: return "アドレスの種類が使えない";
    default: return "不明な応答";
  }
}

// Receives exactly `size` bytes. Returns "" or why not.
std::string RecvExactly(SocketHandle s, unsigned char* out, std::size_t size, SocketDeadline deadline) {
  while (size > 0) {
    const long n = SocketRecv(s, out, size, deadline);
    if (n == kSocketTimedOut) return "プロキシが応答しない";
    if (n <= 0) return "プロキシが接続を切った";
    out += n;
    size -= static_cast<std::size_t>(n);
  }
  return "";
}

std::string Send(SocketHandle s, const std::string& bytes, SocketDeadline deadline) {
  switch (SocketSendAll(s, bytes.data(), bytes.size(), deadline)) {
    case SocketStatus::kOk: return "";
    case SocketStatus::kTimedOut: return "プロキシが応答しない";
    default: return "プロキシに送れない";
  }
}

}  // namespace

bool ParseSocks5Proxy(const char* text, Socks5Proxy& proxy) {
  proxy = Socks5Proxy{};
  const std::string_view all = text != nullptr ? text : "";
  if (all.empty()) return true;
  std::string_view server = all;
  const std::size_t at = all.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view login = all.substr(0, at);
    const std::size_t colon = login.find(':');
    const std::string_view user = login.substr(0, colon);
    const std::string_view password = colon == std::string_view::npos ? "" : login.substr(colon + 1);
    if (user.empty() || user.size() > kSocks5FieldMax || password.size() > kSocks5FieldMax) return false;
    proxy.user.assign(user);
    proxy.password.assign(password);
    server = all.substr(at + 1);
  }
  // The port is required: a proxy has no usual one.
  const std::size_t colon = server.rfind(':');
  const std::size_t bracket = server.rfind(']');
  if (colon == std::string_view::npos || (bracket != std::string_view::npos && colon < bracket)) {
    proxy = Socks5Proxy{};
    return false;
  }
  std::string_view host = server.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string_view port = server.substr(colon + 1);
  int value = 0;
  for (const char c : port) {
    if (c < '0' || c > '9' || value > 65535) {
      value = -1;
      break;
    }
    value = value * 10 + (c - '0');
  }
  if (host.empty() || host.size() >= sizeof proxy.host || port.empty() || value < 1 || value > 65535) {
    proxy = Socks5Proxy{};
    return false;
  }
  std::memcpy(proxy.host, host.data(), host.size());
  proxy.host[host.size()] = '\0';
  proxy.port = value;
  return true;
}

std::string Socks5Connect(SocketHandle s, const Socks5Proxy& proxy, const char* host, int port,
                          SocketDeadline deadline) {
  const bool login = !proxy.user.empty();
  std::string hello{static_cast<char>(kVersion), 1, static_cast<char>(login ? kUserPassword : kNoAuthentication)};
  std::string failure = Send(s, hello, deadline);
  unsigned char reply[4];
  if (failure.empty()) failure = RecvExactly(s, reply, 2, deadline);
  if (!failure.empty()) return failure;
  if (reply[0] != kVersion) return "SOCKS5のプロキシではない";
  if (reply[1] == kNoMethod) return login ? "プロキシがユーザ名とパスワードの認証を受け付けない" : "プロキシが認証なしの接続を受け付けない";
  if (reply[1] != (login ? kUserPassword : kNoAuthentication)) return "プロキシが求めていない認証方式を選んだ";
  if (login) {
    std::string request{1, static_cast<char>(proxy.user.size())};
    request += proxy.user;
    request += static_cast<char>(proxy.password.size());
    request += proxy.password;
    failure = Send(s, request, deadline);
    if (failure.empty()) failure = RecvExactly(s, reply, 2, deadline);
    if (!failure.empty()) return failure;
    if (reply[1] != 0) return "プロキシの認証に失敗 (ユーザ名またはパスワードが違う)";
  }
  std::string request{static_cast<char>(kVersion), static_cast<char>(kConnect), 0};
  IpAddress address;
  if (ParseIpAddress(host, &address)) {
    request += static_cast<char>(address.family == 6 ? kIpv6 : kIpv4);
    request.append(reinterpret_cast<const char*>(address.bytes), address.family == 6 ? 16 : 4);
  } else {
    const std::size_t length = std::strlen(host);
    if (length > 255) return "ホスト名が長すぎる";
    request += static_cast<char>(kDomain);
    request += static_cast<char>(length);
    request += host;
  }
  request += static_cast<char>(port >> 8);
  request += static_cast<char>(port & 0xFF);
  failure = Send(s, request, deadline);
  if (failure.empty()) failure = RecvExactly(s, reply, 4, deadline);
  if (!failure.empty()) return failure;
  if (reply[0] != kVersion) return "プロキシの応答が正しくない";
  if (reply[1] != 0) return std::string(ReplyText(reply[1])) + " (SOCKS5 応答 " + std::to_string(reply[1]) + ")";
  // The address the proxy bound: read and dropped.
  std::size_t rest = 0;
  unsigned char buffer[256 + 2];
  if (reply[3] == kIpv4) {
    rest = 4;
  } else if (reply[3] == kIpv6) {
    rest = 16;
  } else if (reply[3] == kDomain) {
    failure = RecvExactly(s, buffer, 1, deadline);
    if (!failure.empty()) return failure;
    rest = buffer[0];
  } else {
    return "プロキシの応答が正しくない";
  }
  return RecvExactly(s, buffer, rest + 2, deadline);
}

}  // namespace zel
