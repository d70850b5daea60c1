// InetSocket: connection, line reading, sending and cancellation.
#include "net/inet_socket.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string_view>

#include "platform/sjis_text.h"

namespace zel {

namespace {
// Largest port number of TCP.
constexpr long kMaxPort = 65535;
}  // namespace

TlsFailure DescribeTlsFailure(int channelResult) {
  switch (channelResult) {
    case -5:
      return {kTlsUntrusted, "サーバ証明書が信頼できない [%s] %s%s"};
    case -6:
      return {kTlsNameMismatch, "サーバ証明書のホスト名が一致しない [%s] %s%s"};
    default:
      return {kTlsHandshakeFailed, "TLS接続の確立に失敗 [%s] %s%s"};
  }
}

namespace {

// A port number of 1 to 65535 written in digits only.
bool ParsePort(std::string_view digits, int* port) {
  if (digits.empty() || digits.size() > 5) return false;
  long value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxPort) return false;
  *port = static_cast<int>(value);
  return true;
}

// RFC 8305's Connection Attempt Delay: the next address starts when the
// last one has not answered within this time.
constexpr int kConnectStaggerMs = 250;
// How often a connect looks for a cancel from another thread.
constexpr int kCancelCheckMs = 100;

// What a failed connect's error number says, for the failure note.
std::string ConnectReason(int error) {
  switch (ConnectErrorOf(error)) {
    case ConnectError::kRefused: return "接続を拒否された";
    case ConnectError::kUnreachable: return "到達できない";
    case ConnectError::kOther: break;
  }
  return "接続に失敗 (エラー " + std::to_string(error) + ")";
}

// "[::1]:110" for an IPv6 address, "127.0.0.1:110" for IPv4.
std::string AddressWithPort(const IpAddress& address, int port) {
  char text[kIpTextSize];
  FormatIpAddress(address, text, sizeof text);
  const bool v6 = address.family == 6;
  std::string out = v6 ? "[" : "";
  out += text;
  out += v6 ? "]:" : ":";
  out += std::to_string(port);
  return out;
}

}  // namespace

bool SplitServerName(const char* server, int defaultPort, char* name,
                     std::size_t nameSize, int* port) {
  if (server == nullptr || nameSize == 0) return false;
  const std::string_view text(server);
  std::string_view hostPart = text;
  int chosen = defaultPort;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    hostPart = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || !ParsePort(rest.substr(1), &chosen))) return false;
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    const std::size_t colon = text.find(':');
    if (ParsePort(text.substr(colon + 1), &chosen)) hostPart = text.substr(0, colon);
  }
  if (hostPart.empty() || hostPart.size() >= nameSize) return false;
  CopyBounded(name, nameSize, hostPart);
  *port = chosen;
  return true;
}

InetSocket::InetSocket() { replyLine[0] = '\0'; }

InetSocket::~InetSocket() {
  Close();
  std::lock_guard<std::mutex> lock(guard_);
  for (const Link& link : pendingRelease_) ReleaseNow(link);
}

int InetSocket::Connect(const char* server, int defaultPort) {
  failure_.Clear();
  {
    std::lock_guard<std::mutex> lock(guard_);
    if (retired_) return -3;  // checked again once the socket exists
  }
  timedOut_ = false;
  gotLine_ = false;
  received_ = 0;
  replyDeadline_ = kNoDeadline;
  char name[kHostNameSize];
  int chosenPort = defaultPort;
  if (server == nullptr || std::strlen(server) >= sizeof host ||
      !SplitServerName(server, defaultPort, name, sizeof name, &chosenPort)) {
    failure_.Set(FailureKind::kSetting, "サーバ名が正しくない [%s]", Text(server));
    return -1;
  }
  // Through a proxy the proxy is connected to, and it resolves the name.
  proxied_ = proxy_.Given();
  const char* dialName = proxied_ ? proxy_.host : name;
  const int dialPort = proxied_ ? proxy_.port : chosenPort;
  std::vector<IpAddress> addresses;
  switch (ResolveHost(dialName, addresses)) {
    case LookupStatus::kOk:
      break;
    case LookupStatus::kTemporary:
      failure_.Set(FailureKind::kTemporary, "ホスト名を解決できない (名前解決の一時的な失敗) [%s]", dialName);
      return -1;
    default:
      failure_.Set(FailureKind::kNoHost, "ホスト名が見つからない [%s]", dialName);
      return -1;
  }
  Close();  // never leak a socket still held from an earlier connection
  // The addresses raced (RFC 8305): IPv6 and IPv4 taken in turn, starting
  // with the family the resolver put first; a new attempt starts when the
  // last one failed or has not answered within kConnectStagger; the first
  // to connect wins. One deadline bounds the whole connect.
  std::vector<IpAddress> order;
  {
    std::vector<IpAddress> first, second;
    for (const IpAddress& address : addresses) {
      (address.family == addresses.front().family ? first : second).push_back(address);
    }
    for (std::size_t i = 0; i < first.size() || i < second.size(); ++i) {
      if (i < first.size()) order.push_back(first[i]);
      if (i < second.size()) order.push_back(second[i]);
    }
  }
  struct Attempt {
    SocketHandle socket;
    std::size_t index;  // into order
  };
  std::vector<Attempt> pending;
  std::vector<std::string> reasons(order.size());
  // The last failed socket stays held until Quit or Close, as a failed
  // connect always left it.
  SocketHandle last = kNoSocket;
  const auto drop = [&](SocketHandle s) {
    if (last != kNoSocket) SocketClose(last);
    last = s;
  };
  const auto closeAll = [&] {
    for (const Attempt& attempt : pending) drop(attempt.socket);
    pending.clear();
  };
  const SocketDeadline deadline = SocketDeadlineAfter(timeoutSeconds_);
  // A cancel (the channel disabled meanwhile, or retired) ends the race; a
  // channel disabled before still connects, as it always did.
  const bool wasEnabled = enabled.load();
  const auto cancelled = [&] {
    std::lock_guard<std::mutex> lock(guard_);
    return retired_ || (wasEnabled && !enabled.load());
  };
  bool anySocket = false;
  std::size_t next = 0;
  SocketDeadline nextStart = kNoDeadline;  // when the next address starts
  SocketHandle winner = kNoSocket;
  std::size_t winnerIndex = 0;
  while (winner == kNoSocket) {
    // Start the next address when none is pending or its time has come.
    while (next < order.size() && (pending.empty() || SocketTimeLeft(nextStart) == 0)) {
      const std::size_t index = next++;
      const SocketHandle s = SocketCreateTcp(order[index].family);
      if (s == kNoSocket) {
        reasons[index] = "ソケットを作成できない";
        continue;
      }
      anySocket = true;
      const int begun = SocketConnectBegin(s, order[index], dialPort);
      if (begun == 0) {
        winner = s;
        winnerIndex = index;
        break;
      }
      if (begun != kConnectPending) {
        reasons[index] = ConnectReason(begun);
        drop(s);
        continue;
      }
      pending.push_back({s, index});
      nextStart = SocketDeadlineAfterMs(kConnectStaggerMs);
    }
    if (winner != kNoSocket || pending.empty() || cancelled() || SocketTimeLeft(deadline) == 0) break;
    // Wait for an answer, the next start, the deadline, or a slice of
    // kCancelCheckMs to look for a cancel.
    SocketDeadline until = SocketDeadlineAfterMs(kCancelCheckMs);
    if (deadline != kNoDeadline && deadline < until) until = deadline;
    if (next < order.size() && nextStart < until) until = nextStart;
    std::vector<SocketHandle> sockets;
    for (const Attempt& attempt : pending) sockets.push_back(attempt.socket);
    const int ready = SocketWaitAny(sockets.data(), sockets.size(), SocketEvent::kWritable, until);
    if (ready == -2) break;
    if (ready < 0) continue;
    const Attempt attempt = pending[static_cast<std::size_t>(ready)];
    pending.erase(pending.begin() + ready);
    const int error = SocketConnectError(attempt.socket);
    if (error == 0) {
      winner = attempt.socket;
      winnerIndex = attempt.index;
      break;
    }
    reasons[attempt.index] = ConnectReason(error);
    drop(attempt.socket);
    nextStart = SocketDeadlineAfterMs(0);  // a failure starts the next address at once
  }
  const bool timedOut = winner == kNoSocket && !pending.empty() && SocketTimeLeft(deadline) == 0;
  for (const Attempt& attempt : pending) {
    reasons[attempt.index] = std::to_string(timeoutSeconds_) + "秒でタイムアウト";
  }
  closeAll();
  if (winner != kNoSocket) {
    drop(kNoSocket);
    {
      std::lock_guard<std::mutex> lock(guard_);
      if (retired_) {
        SocketClose(winner);
        return -3;
      }
      socketHandle = winner;
    }
    recvCursor_ = recvEnd_ = 0;
    if (proxied_ && !ThroughProxy(winner, name, chosenPort)) return -3;
    peerAddress_ = order[winnerIndex];
    CopyBounded(host, server);
    CopyBounded(serverName_, name);
    port = chosenPort;
    return tlsMode_ == kTlsImplicit ? StartTls() : 1;
  }
  if (last != kNoSocket) {
    std::lock_guard<std::mutex> lock(guard_);
    if (retired_) {
      SocketClose(last);
    } else {
      socketHandle = last;
    }
  }
  if (cancelled() && anySocket) return -3;
  // The reasons of the addresses tried, in the order tried.
  std::string text;
  bool allTimedOut = timedOut;
  std::size_t tried = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (reasons[i].empty()) continue;
    allTimedOut = allTimedOut && reasons[i].find("タイムアウト") != std::string::npos;
    if (!text.empty()) text += "; ";
    text += AddressWithPort(order[i], dialPort) + " " + reasons[i];
    ++tried;
  }
  if (allTimedOut) NoteTimeout();
  const FailureKind kind = allTimedOut ? FailureKind::kTimedOut : FailureKind::kRefused;
  if (order.size() == 1 && tried == 1) {
    // "127.0.0.1:1 接続を拒否された" reads better the other way round.
    const std::size_t blank = text.find(' ');
    failure_.Set(kind, "%s [%s]", text.c_str() + blank + 1, text.substr(0, blank).c_str());
  } else {
    failure_.Set(kind, "接続できない [%s]: %s", server, text.c_str());
  }
  return anySocket ? -3 : -2;
}

bool InetSocket::ThroughProxy(SocketHandle s, const char* name, int targetPort) {
  if (AcquireLink().socket != s) return false;
  const std::string failed =
      Socks5Connect(s, proxy_, name, targetPort, SocketDeadlineAfter(timeoutSeconds_));
  ReleaseLink();
  if (failed.empty()) return true;
  failure_.Set(FailureKind::kRefused, "プロキシ経由で接続できない [%s:%d 経由 %s:%d]: %s", proxy_.host, proxy_.port,
               name, targetPort, failed.c_str());
  Close();
  return false;
}

void InetSocket::SetTlsPins(const char* fingerprint, int minVersion) {
  CopyBounded(tlsFingerprint_, fingerprint != nullptr ? fingerprint : "");
  tlsMinVersion_ = minVersion;
}

void InetSocket::SetTls(int mode, const char* caFile) {
  tlsMode_ = mode;
  CopyBounded(caFile_, Text(caFile));
}

int InetSocket::StartTls() {
  tlsDetail_[0] = '\0';
  const Link link = AcquireLink();
  if (link.socket == kNoSocket || link.tls != nullptr) {
    if (link.socket != kNoSocket) ReleaseLink();
    CopyBounded(tlsDetail_, link.socket == kNoSocket ? "not connected" : "already encrypted");
    return -4;
  }
  // Whatever came before the handshake is not part of the protected
  // conversation: a reply injected there must not be read as one after it.
  recvCursor_ = recvEnd_ = 0;
  TlsSession* session = nullptr;
  TlsPolicy policy;
  policy.caFile = caFile_;
  policy.fingerprint = tlsFingerprint_;
  policy.minVersion = tlsMinVersion_;
  const TlsStatus status = TlsConnect(link.socket, serverName_, policy,
                                      SocketDeadlineAfter(timeoutSeconds_), &session, tlsDetail_);
  bool kept = false;
  if (status == TlsStatus::kOk) {
    std::lock_guard<std::mutex> lock(guard_);
    kept = socketHandle == link.socket;  // not closed by a cancel meanwhile
    if (kept) tls_ = session;
  }
  ReleaseLink();
  if (kept) return 1;
  TlsFree(session);
  if (status == TlsStatus::kTimedOut) NoteTimeout();
  Close();
  switch (status) {
    case TlsStatus::kUntrusted:
      failure_.Set(FailureKind::kTls, "サーバ証明書が信頼できない [%s]: %s", host, tlsDetail_);
      return -5;
    case TlsStatus::kNameMismatch:
      failure_.Set(FailureKind::kTls, "サーバ証明書のホスト名が一致しない [%s]: %s", host, tlsDetail_);
      return -6;
    case TlsStatus::kTimedOut:
      failure_.Set(FailureKind::kTimedOut, "TLS接続の確立が%d秒でタイムアウト [%s]", timeoutSeconds_, host);
      return -4;
    default:
      failure_.Set(FailureKind::kTls, "TLS接続の確立に失敗 [%s]: %s", host, tlsDetail_);
      return -4;
  }
}

bool InetSocket::IsEncrypted() const {
  std::lock_guard<std::mutex> lock(guard_);
  return tls_ != nullptr;
}

// Through a proxy the server is elsewhere, whatever the proxy's address.
bool InetSocket::PeerIsLoopback() const { return !proxied_ && IsLoopbackAddress(peerAddress_); }

void InetSocket::NoteFailure(FailureKind kind, const char* format, ...) {
  // Formatted apart first: the arguments may be the note's own text.
  FailureNote note;
  va_list args;
  va_start(args, format);
  note.SetV(kind, format, args);
  va_end(args);
  failure_ = note;
}

void InetSocket::NoteReplyFailure(FailureKind refused) {
  if (!enabled.load()) {
    failure_.Set(FailureKind::kNone, "中断された [%s]", host);
  } else if (timedOut_) {
    // A port that speaks TLS from the first byte waits for the client's
    // handshake and never greets a plain client.
    failure_.Set(FailureKind::kTimedOut,
                 received_ == 0 && tlsMode_ != kTlsImplicit
                     ? "%d秒待ってもサーバが応答しない (TLSで始まるポートかもしれない) [%s]"
                     : "%d秒待ってもサーバが応答しない [%s]",
                 timeoutSeconds_, host);
  } else if (gotLine_) {
    failure_.Set(refused, "%s", replyLine);
  } else {
    failure_.Set(FailureKind::kServer, "サーバが接続を切った [%s]", host);
  }
}

void InetSocket::SetReplyLine(std::string_view line, bool got) {
  if (got) trace_.Received(line);
  CopyBounded(replyLine, got ? line : std::string_view(""));
  gotLine_ = got;
}

const char* InetSocket::ReplyNote() const {
  replyNote_ = gotLine_ ? std::string(" ") + replyLine : std::string();
  return replyNote_.c_str();
}

int InetSocket::Close() {
  std::lock_guard<std::mutex> lock(guard_);
  if (socketHandle == kNoSocket) return 0;
  const Link link{socketHandle, tls_};
  socketHandle = kNoSocket;
  tls_ = nullptr;
  SocketShutdown(link.socket);
  if (usersInCall_ > 0) {
    pendingRelease_.push_back(link);  // the user thread is still inside a call
  } else {
    ReleaseNow(link);
  }
  return 1;
}

void InetSocket::ReleaseNow(const Link& link) {
  TlsFree(link.tls);
  SocketClose(link.socket);
}

bool InetSocket::IsConnected() const {
  std::lock_guard<std::mutex> lock(guard_);
  return socketHandle != kNoSocket;
}

InetSocket::Link InetSocket::AcquireLink() {
  std::lock_guard<std::mutex> lock(guard_);
  if (socketHandle == kNoSocket) return {};
  ++usersInCall_;
  return {socketHandle, tls_};
}

void InetSocket::ReleaseLink() {
  std::lock_guard<std::mutex> lock(guard_);
  if (--usersInCall_ == 0 && !pendingRelease_.empty()) {
    for (const Link& link : pendingRelease_) ReleaseNow(link);
    pendingRelease_.clear();
  }
}

void InetSocket::NoteTimeout() {
  timedOut_ = true;
  std::snprintf(timeoutNote_, sizeof timeoutNote_, " (タイムアウト %d秒)", timeoutSeconds_);
}

void InetSocket::SetTimeout(int seconds) { timeoutSeconds_ = seconds > 0 ? seconds : 0; }

bool InetSocket::Refill() {
  if (!enabled.load() || timedOut_) return false;
  SocketDeadline deadline = SocketDeadlineAfter(timeoutSeconds_);
  if (replyDeadline_ != kNoDeadline) {
    if (SocketTimeLeft(replyDeadline_) == 0) {
      NoteTimeout();
      return false;
    }
    if (deadline == kNoDeadline || replyDeadline_ < deadline) deadline = replyDeadline_;
  }
  const Link link = AcquireLink();
  if (link.socket == kNoSocket) return false;
  const long n = link.tls != nullptr
                     ? TlsRecv(link.tls, recvBuffer, kRecvBlockSize, deadline)
                     : SocketRecv(link.socket, recvBuffer, kRecvBlockSize, deadline);
  ReleaseLink();
  if (n == kSocketTimedOut) NoteTimeout();
  if (n <= 0) return false;
  recvCursor_ = 0;
  recvEnd_ = static_cast<std::size_t>(n);
  received_ += recvEnd_;
  return true;
}

int InetSocket::RecvChar() {
  if (recvCursor_ == recvEnd_ && !Refill()) return -1;
  return recvBuffer[recvCursor_++];
}

int InetSocket::RecvLine() {
  std::size_t stored = 0;
  for (;;) {
    const int c = RecvChar();
    if (c < 0) {
      replyLine[0] = '\0';
      gotLine_ = false;
      return 0;
    }
    replyLine[stored] = static_cast<char>(c);
    if (c == '\n' && stored > 0 && replyLine[stored - 1] == '\r') {
      replyLine[stored - 1] = '\0';
      gotLine_ = true;
      trace_.Received(replyLine);
      return static_cast<int>(stored);
    }
    if (c == '\0') {
      gotLine_ = stored > 0;
      return static_cast<int>(stored);
    }
    ++stored;
    if (stored == kRecvBlockSize) {
      replyLine[stored] = '\0';
      gotLine_ = true;
      return static_cast<int>(stored);
    }
  }
}

std::size_t InetSocket::RecvBytes(char* buffer, std::size_t size) {
  if (size == 0 || (recvCursor_ == recvEnd_ && !Refill())) return 0;
  std::size_t take = recvEnd_ - recvCursor_;
  if (take > size) take = size;
  std::memcpy(buffer, recvBuffer + recvCursor_, take);
  recvCursor_ += take;
  return take;
}

int InetSocket::WaitForData(int seconds) {
  if (recvCursor_ != recvEnd_) return 1;
  if (!enabled.load() || timedOut_) return -1;
  const Link link = AcquireLink();
  if (link.socket == kNoSocket) return -1;
  // A receive rather than a readiness wait: bytes a TLS session has
  // already decrypted make no socket readable.
  const SocketDeadline deadline = SocketDeadlineAfter(seconds > 0 ? seconds : 1);
  const long n = link.tls != nullptr ? TlsRecv(link.tls, recvBuffer, kRecvBlockSize, deadline)
                                     : SocketRecv(link.socket, recvBuffer, kRecvBlockSize, deadline);
  ReleaseLink();
  if (n == kSocketTimedOut) return enabled.load() ? 0 : -1;
  if (n > 0) {
    recvCursor_ = 0;
    recvEnd_ = static_cast<std::size_t>(n);
    received_ += recvEnd_;
  }
  return enabled.load() ? 1 : -1;  // the end of the connection: the next receive tells
}

std::size_t InetSocket::RecvLinePiece(char* buffer, std::size_t size,
                                      LineState* state) {
  const std::size_t limit = size - 1;
  std::size_t stored = 0;
  for (;;) {
    if (recvCursor_ == recvEnd_ && !Refill()) {
      *state = kLineCut;
      return stored;
    }
    // Copy up to the next LF of the buffer (or the piece's limit) at once.
    const unsigned char* begin = recvBuffer + recvCursor_;
    std::size_t available = recvEnd_ - recvCursor_;
    if (available > limit - stored) available = limit - stored;
    const void* lf = std::memchr(begin, '\n', available);
    const std::size_t take =
        lf != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - begin) + 1
                      : available;
    std::memcpy(buffer + stored, begin, take);
    recvCursor_ += take;
    stored += take;
    if (lf != nullptr && stored >= 2 && buffer[stored - 2] == '\r') {
      *state = kLineEnded;
      return stored - 2;
    }
    if (stored == limit) {
      // A CR at the very end may pair with a LF still to come: leave it for
      // the next piece (it was the last byte taken from recvBuffer).
      if (buffer[stored - 1] == '\r' && stored > 1) {
        --recvCursor_;
        --stored;
      } else if (buffer[stored - 1] == '\r') {
        // A one-byte piece that is a CR: look at the next byte.
        if (recvCursor_ == recvEnd_ && !Refill()) {
          *state = kLineCut;
          return stored;
        }
        if (recvBuffer[recvCursor_] == '\n') {
          ++recvCursor_;
          *state = kLineEnded;
          return 0;
        }
      }
      *state = kLinePiece;
      return stored;
    }
  }
}

bool InetSocket::SendRaw(const void* data, std::size_t size) {
  if (timedOut_) return false;
  const Link link = AcquireLink();
  if (link.socket == kNoSocket) return false;
  const SocketDeadline deadline = SocketDeadlineAfter(timeoutSeconds_);
  const SocketStatus sent = link.tls != nullptr
                                ? TlsSendAll(link.tls, data, size, deadline)
                                : SocketSendAll(link.socket, data, size, deadline);
  ReleaseLink();
  if (sent == SocketStatus::kTimedOut) NoteTimeout();
  return sent == SocketStatus::kOk;
}

int InetSocket::SendLine(const char* text) {
  // A CR or LF inside would end the line early and let the rest of an
  // argument (a user name, an address) reach the server as a command.
  if (!enabled.load() || text == nullptr || std::strpbrk(text, "\r\n") != nullptr) {
    gotLine_ = false;
    return 0;
  }
  const std::size_t length = std::strlen(text);
  trace_.Sent(text);
  // One write for the text and its CR LF: no small second segment.
  char line[kCommandSize + 2];
  bool sent;
  if (length + 2 <= sizeof line) {
    std::memcpy(line, text, length);
    line[length] = '\r';
    line[length + 1] = '\n';
    sent = SendRaw(line, length + 2);
  } else {
    sent = SendRaw(text, length) && SendRaw("\r\n", 2);
  }
  if (!sent) gotLine_ = false;  // no reply belongs to this command
  return sent ? static_cast<int>(length + 2) : 0;
}

int InetSocket::SendCommand(const char* format, ...) {
  char command[kCommandSize];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(command, sizeof command, format, args);
  va_end(args);
  // A cut command would be a different command: refuse it.
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof command) {
    gotLine_ = false;
    return 0;
  }
  return SendLine(command);
}

int InetSocket::SendFileData(std::FILE* file) {
  if (file == nullptr) return 0;
  for (;;) {
    const std::size_t n = std::fread(replyLine, 1, kRecvBlockSize, file);
    replyLine[n] = '\0';  // the buffer stays a text for later log entries
    if (n == kRecvBlockSize) {
      if (!enabled.load() || !SendRaw(replyLine, n)) return 0;
      continue;
    }
    if (std::ferror(file) || !std::feof(file)) return 0;
    if (n > 0 && (!enabled.load() || !SendRaw(replyLine, n))) return 0;
    return 1;
  }
}

int InetSocket::Quit() {
  SendLine("QUIT");
  if (enabled.load()) {
    const Link link = AcquireLink();
    if (link.tls != nullptr) TlsNotifyClose(link.tls);
    if (link.socket != kNoSocket) ReleaseLink();
  }
  Close();
  return 1;
}

void InetSocket::Enable() {
  std::lock_guard<std::mutex> lock(guard_);
  if (!retired_) enabled.store(true);
}

void InetSocket::Disable() { enabled.store(false); }

void InetSocket::Retire() {
  {
    std::lock_guard<std::mutex> lock(guard_);
    retired_ = true;
    enabled.store(false);
  }
  Close();
}

}  // namespace zel
