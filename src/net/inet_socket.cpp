// InetSocket: connection, line reading, sending and cancellation.
#include "net/inet_socket.h"

#include <cstdarg>
#include <cstring>

#include "codec/sjis_text.h"

namespace zel {

namespace {
// Largest port number of TCP.
constexpr long kMaxPort = 65535;
}  // namespace

bool SplitServerName(const char* server, int defaultPort, char* name,
                     std::size_t nameSize, int* port) {
  if (server == nullptr || nameSize == 0) return false;
  const std::size_t length = std::strlen(server);
  const char* colon = std::strrchr(server, ':');
  std::size_t nameLength = length;
  int chosen = defaultPort;
  if (colon != nullptr && colon[1] != '\0') {
    long value = 0;
    const char* p = colon + 1;
    while (*p >= '0' && *p <= '9' && value <= kMaxPort) {
      value = value * 10 + (*p - '0');
      ++p;
    }
    if (*p == '\0' && value >= 1 && value <= kMaxPort) {
      nameLength = static_cast<std::size_t>(colon - server);
      chosen = static_cast<int>(value);
    }
  }
  if (nameLength == 0 || nameLength >= nameSize) return false;
  CopyBounded(name, nameSize, std::string_view(server, nameLength));
  *port = chosen;
  return true;
}

InetSocket::InetSocket() { replyLine[0] = '\0'; }

InetSocket::~InetSocket() {
  Close();
  std::lock_guard<std::mutex> lock(guard_);
  for (SocketHandle s : pendingRelease_) SocketClose(s);
}

int InetSocket::Connect(const char* server, int defaultPort) {
  {
    std::lock_guard<std::mutex> lock(guard_);
    if (retired_) return -3;  // checked again once the socket exists
  }
  timedOut_ = false;
  // A host name never holds a colon; "name:port" names a non-default port.
  char name[kHostNameSize];
  int chosenPort = defaultPort;
  if (server == nullptr || std::strlen(server) >= sizeof host ||
      !SplitServerName(server, defaultPort, name, sizeof name, &chosenPort)) {
    return -1;
  }
  std::uint32_t address = 0;
  if (!ResolveIpv4(name, &address)) return -1;
  peerAddress = address;
  Close();  // never leak a socket still held from an earlier connection
  const SocketHandle s = SocketCreateTcp();
  if (s == kNoSocket) return -2;
  {
    std::lock_guard<std::mutex> lock(guard_);
    if (retired_) {
      SocketClose(s);
      return -3;
    }
    socketHandle = s;
  }
  recvCursor_ = recvEnd_ = 0;
  if (AcquireSocket() == kNoSocket) return -3;  // closed by a cancel meanwhile
  const SocketStatus connected =
      SocketConnect(s, address, chosenPort, SocketDeadlineAfter(timeoutSeconds_));
  ReleaseSocket();
  if (connected == SocketStatus::kTimedOut) NoteTimeout();
  if (connected != SocketStatus::kOk) return -3;
  CopyBounded(host, server);
  port = chosenPort;
  return 1;
}

int InetSocket::Close() {
  std::lock_guard<std::mutex> lock(guard_);
  if (socketHandle == kNoSocket) return 0;
  const SocketHandle s = socketHandle;
  socketHandle = kNoSocket;
  SocketShutdown(s);
  if (usersInCall_ > 0) {
    pendingRelease_.push_back(s);  // the user thread is still inside a call
  } else {
    SocketClose(s);
  }
  return 1;
}

bool InetSocket::IsConnected() const {
  std::lock_guard<std::mutex> lock(guard_);
  return socketHandle != kNoSocket;
}

SocketHandle InetSocket::AcquireSocket() {
  std::lock_guard<std::mutex> lock(guard_);
  if (socketHandle == kNoSocket) return kNoSocket;
  ++usersInCall_;
  return socketHandle;
}

void InetSocket::ReleaseSocket() {
  std::lock_guard<std::mutex> lock(guard_);
  if (--usersInCall_ == 0 && !pendingRelease_.empty()) {
    for (SocketHandle s : pendingRelease_) SocketClose(s);
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
  const SocketHandle s = AcquireSocket();
  if (s == kNoSocket) return false;
  const long n = SocketRecv(s, recvBuffer, kRecvBlockSize, SocketDeadlineAfter(timeoutSeconds_));
  ReleaseSocket();
  if (n == kSocketTimedOut) NoteTimeout();
  if (n <= 0) return false;
  recvCursor_ = 0;
  recvEnd_ = static_cast<std::size_t>(n);
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
      return 0;
    }
    replyLine[stored] = static_cast<char>(c);
    if (c == '\n' && stored > 0 && replyLine[stored - 1] == '\r') {
      replyLine[stored - 1] = '\0';
      return static_cast<int>(stored);
    }
    if (c == '\0') return static_cast<int>(stored);
    ++stored;
    if (stored == kRecvBlockSize) {
      replyLine[stored] = '\0';
      return static_cast<int>(stored);
    }
  }
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
  const SocketHandle s = AcquireSocket();
  if (s == kNoSocket) return false;
  const SocketStatus sent =
      SocketSendAll(s, data, size, SocketDeadlineAfter(timeoutSeconds_));
  ReleaseSocket();
  if (sent == SocketStatus::kTimedOut) NoteTimeout();
  return sent == SocketStatus::kOk;
}

int InetSocket::SendLine(const char* text) {
  if (!enabled.load() || text == nullptr) return 0;
  // A CR or LF inside would end the line early and let the rest of an
  // argument (a user name, an address) reach the server as a command.
  if (std::strpbrk(text, "\r\n") != nullptr) return 0;
  const std::size_t length = std::strlen(text);
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
  return sent ? static_cast<int>(length + 2) : 0;
}

int InetSocket::SendCommand(const char* format, ...) {
  char command[kCommandSize];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(command, sizeof command, format, args);
  va_end(args);
  // A cut command would be a different command: refuse it.
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof command) return 0;
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
