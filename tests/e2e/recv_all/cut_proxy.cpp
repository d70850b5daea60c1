#include "cut_proxy.h"

#include <algorithm>
#include <stdexcept>

#include "codec/ascii_case.h"

namespace zel::e2e {

namespace {
constexpr std::size_t kRelayBlock = 16 * 1024;  // bytes relayed per receive
constexpr std::int64_t kNever = INT64_MAX;
const std::string kRefusal = "-ERR refused by the test proxy\r\n";
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

void CutProxy::SetCut(const Cut& cut) {
  std::lock_guard<std::mutex> lock(mutex_);
  cut_ = cut;
}

void CutProxy::Refuse(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_ = command;
}

std::vector<CutProxy::Command> CutProxy::Transcript(std::int64_t* downTotal) {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return !busy_; });
  if (downTotal != nullptr) *downTotal = downBytes_.load();
  return transcript_;
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
  Cut cut;
  std::string refused;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cut = cut_;
    refused = refused_;
  }
  std::uint32_t address = 0;
  ResolveIpv4(host_.c_str(), &address);
  const SocketHandle server = SocketCreateTcp();
  if (server == kNoSocket || SocketConnect(server, address, serverPort_, kNoDeadline) != SocketStatus::kOk) {
    if (server != kNoSocket) SocketClose(server);
    SocketClose(client);
    return;
  }
  // Absolute cut points of the two streams, set once the stage is known.
  std::atomic<std::int64_t> cutDown{kNever};
  std::int64_t cutUp = kNever;
  if (cut.command.empty()) {
    if (cut.direction == Direction::kToClient) cutDown = cut.offset;
    if (cut.direction == Direction::kToServer) cutUp = cut.offset;
  }
  std::mutex toClient;  // the relay and a refusal both write to the client
  auto shutBoth = [&] {
    SocketShutdown(client);
    SocketShutdown(server);
  };

  std::thread down([&] {
    char buffer[kRelayBlock];
    for (;;) {
      const long n = SocketRecv(server, buffer, sizeof buffer, kNoDeadline);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(toClient);
      const std::int64_t allowed = std::min<std::int64_t>(n, cutDown.load() - downBytes_.load());
      // Counted before sending: the client may answer as soon as it has them.
      downBytes_ += allowed;
      if (allowed > 0 && SocketSendAll(client, buffer, static_cast<std::size_t>(allowed), kNoDeadline) != SocketStatus::kOk) break;
      if (allowed < n || downBytes_.load() >= cutDown.load()) break;
    }
    shutBoth();
  });

  char buffer[kRelayBlock];
  std::int64_t forwarded = 0;  // bytes that reached the server
  std::int64_t received = 0;
  std::string line;
  int seen = 0;
  bool open = cutUp > 0;
  while (open) {
    const long n = SocketRecv(client, buffer, sizeof buffer, kNoDeadline);
    if (n <= 0) break;
    for (long i = 0; i < n && open; ++i) {
      line += buffer[i];
      ++received;
      if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) continue;
      const std::int64_t lineStart = received - static_cast<std::int64_t>(line.size());
      {
        std::lock_guard<std::mutex> lock(mutex_);
        transcript_.push_back({line.substr(0, line.size() - 2), lineStart, downBytes_.load()});
      }
      if (!cut.command.empty() && startsWithNoCase(line, cut.command) &&
          ++seen == cut.occurrence) {
        if (cut.direction == Direction::kToClient) cutDown = downBytes_.load() + cut.offset;
        if (cut.direction == Direction::kToServer) cutUp = forwarded + cut.offset;
      }
      const std::string word = line.substr(0, line.find_first_of(" \r"));
      if (!refused.empty() && equalsNoCase(word, refused)) {
        std::lock_guard<std::mutex> lock(toClient);
        downBytes_ += static_cast<std::int64_t>(kRefusal.size());
        SocketSendAll(client, kRefusal.data(), kRefusal.size(), kNoDeadline);
      } else {
        const std::int64_t allowed =
            std::min<std::int64_t>(static_cast<std::int64_t>(line.size()), cutUp - forwarded);
        if (allowed > 0) SocketSendAll(server, line.data(), static_cast<std::size_t>(allowed), kNoDeadline);
        forwarded += allowed;
        open = forwarded < cutUp;
      }
      line.clear();
    }
  }
  shutBoth();
  down.join();
  SocketClose(client);
  SocketClose(server);
}

}  // namespace zel::e2e
