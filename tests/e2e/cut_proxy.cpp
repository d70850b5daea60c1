#include "cut_proxy.h"

#include <algorithm>
#include <stdexcept>

#include "codec/ascii_case.h"

namespace zel::e2e {

namespace {
constexpr std::size_t kRelayBlock = 16 * 1024;  // bytes relayed per receive
}  // namespace

CutProxy::CutProxy(const std::string& host, int port) : host_(host), serverPort_(port) {
  listener_ = SocketListenLoopback(&port_);
  if (listener_ == kNoSocket) throw std::runtime_error("no loopback listener");
  thread_ = std::thread([this] { AcceptLoop(); });
}

CutProxy::~CutProxy() {
  SocketShutdown(listener_);
  thread_.join();
  SocketClose(listener_);
}

void CutProxy::CutAfter(Direction direction, std::int64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  direction_ = direction;
  cutBytes_ = bytes;
}

void CutProxy::Refuse(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_ = command;
}

std::vector<CutProxy::Command> CutProxy::Transcript() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return !busy_; });
  return transcript_;
}

std::int64_t CutProxy::DownBytes() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return !busy_; });
  return downBytes_;
}

void CutProxy::AcceptLoop() {
  for (;;) {
    const SocketHandle client = SocketAccept(listener_);
    if (client == kNoSocket) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_ = true;
      transcript_.clear();
      downBytes_ = 0;
    }
    Serve(client);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_ = false;
    }
    idle_.notify_all();
  }
}

void CutProxy::Serve(SocketHandle client) {
  Direction direction;
  std::int64_t cut;
  std::string refused;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    direction = direction_;
    cut = cutBytes_;
    refused = refused_;
  }
  std::uint32_t address = 0;
  ResolveIpv4(host_.c_str(), &address);
  const SocketHandle server = SocketCreateTcp();
  if (server == kNoSocket || !SocketConnect(server, address, serverPort_)) {
    if (server != kNoSocket) SocketClose(server);
    SocketClose(client);
    return;
  }
  std::mutex sendToClient;  // the relay and a refusal both answer the client
  auto shutBoth = [&] {
    SocketShutdown(client);
    SocketShutdown(server);
  };
  // Forwards at most what the cut allows; false once the cut is reached.
  auto forward = [&](SocketHandle to, const char* data, std::int64_t size, std::int64_t& sent,
                     bool cutHere) {
    std::int64_t allowed = size;
    if (cutHere) allowed = std::clamp<std::int64_t>(cut - sent, 0, size);
    // Counted before sending: the client may answer as soon as it has them.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (to == client) downBytes_ += allowed;
    }
    sent += allowed;
    if (allowed > 0 && !SocketSendAll(to, data, static_cast<std::size_t>(allowed))) return false;
    return !(cutHere && sent >= cut);
  };

  std::thread down([&] {
    char buffer[kRelayBlock];
    std::int64_t sent = 0;
    // A cut at 0 bytes closes before the greeting.
    if (direction == Direction::kToClient && cut == 0) return shutBoth();
    for (;;) {
      const long n = SocketRecv(server, buffer, sizeof buffer);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(sendToClient);
      if (!forward(client, buffer, n, sent, direction == Direction::kToClient)) break;
    }
    shutBoth();
  });

  char buffer[kRelayBlock];
  std::int64_t sent = 0;
  std::string line;  // the command being received
  std::int64_t lineStart = 0;
  std::int64_t received = 0;
  bool open = !(direction == Direction::kToServer && cut == 0);
  while (open) {
    const long n = SocketRecv(client, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long i = 0; i < n && open; ++i) {
      line += buffer[i];
      ++received;
      if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        transcript_.push_back({line.substr(0, line.size() - 2), lineStart, downBytes_});
      }
      const std::string word = line.substr(0, line.find_first_of(" \r"));
      if (!refused.empty() && equalsNoCase(word, refused)) {
        std::lock_guard<std::mutex> lock(sendToClient);
        static const std::string kRefusal = "-ERR refused by the test proxy\r\n";
        {
          std::lock_guard<std::mutex> count(mutex_);
          downBytes_ += static_cast<std::int64_t>(kRefusal.size());
        }
        SocketSendAll(client, kRefusal.data(), kRefusal.size());
      } else {
        open = forward(server, line.data(), static_cast<std::int64_t>(line.size()), sent,
                       direction == Direction::kToServer);
      }
      line.clear();
      lineStart = received;
    }
    // A command cut inside the client's bytes reaches the server only in
    // part: forward the partial line when the cut falls inside it.
    if (open && direction == Direction::kToServer && !line.empty() &&
        sent + static_cast<std::int64_t>(line.size()) >= cut) {
      forward(server, line.data(), static_cast<std::int64_t>(line.size()), sent, true);
      open = false;
    }
  }
  shutBoth();
  down.join();
  SocketClose(client);
  SocketClose(server);
}

}  // namespace zel::e2e
