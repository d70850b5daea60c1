#include "script_server.h"

#include <stdexcept>

namespace zel::test {

ScriptServer::ScriptServer() = default;

ScriptServer::~ScriptServer() {
  if (listener_ != kNoSocket) SocketShutdown(listener_);
  if (thread_.joinable() && !done_.load() && peer_ != kNoSocket) {
    SocketShutdown(peer_);
  }
  if (thread_.joinable()) thread_.join();
  if (listener_ != kNoSocket) SocketClose(listener_);
}

ScriptServer& ScriptServer::Send(std::string bytes) {
  script_.push_back({Action::kSend, std::move(bytes)});
  return *this;
}
ScriptServer& ScriptServer::Read() {
  script_.push_back({Action::kRead, {}});
  return *this;
}
ScriptServer& ScriptServer::Reply(std::string bytes) {
  Read();
  return Send(std::move(bytes));
}
ScriptServer& ScriptServer::ReadData() {
  script_.push_back({Action::kReadData, {}});
  return *this;
}
ScriptServer& ScriptServer::Close() {
  script_.push_back({Action::kClose, {}});
  return *this;
}
ScriptServer& ScriptServer::Pause(std::chrono::milliseconds time) {
  script_.push_back({Action::kPause, {}, time});
  return *this;
}

void ScriptServer::Start() {
  listener_ = SocketListenLoopback(&port_);
  if (listener_ == kNoSocket) throw std::runtime_error("no loopback listener");
  thread_ = std::thread([this] { Run(); });
}

void ScriptServer::Join() {
  if (thread_.joinable()) thread_.join();
}

bool ScriptServer::ReadLine(std::string& line) {
  for (;;) {
    const std::size_t end = pending_.find("\r\n");
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 2);
      return true;
    }
    char buffer[4096];
    const long n = SocketRecv(peer_, buffer, sizeof buffer, kNoDeadline);
    if (n <= 0) {
      eof_ = true;
      return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

void ScriptServer::Run() {
  peer_ = SocketAccept(listener_);
  if (peer_ == kNoSocket) {
    done_ = true;
    return;
  }
  bool open = true;
  for (const Action& action : script_) {
    if (!open) break;
    switch (action.kind) {
      case Action::kSend:
        SocketSendAll(peer_, action.bytes.data(), action.bytes.size(), kNoDeadline);
        break;
      case Action::kRead: {
        std::string line;
        if (!ReadLine(line)) open = false; else commands_.push_back(line);
        break;
      }
      case Action::kReadData:
        for (;;) {
          const std::size_t end = pending_.find("\r\n.\r\n");
          if (end != std::string::npos) {
            data_ = pending_.substr(0, end + 5);
            pending_.erase(0, end + 5);
            break;
          }
          char buffer[4096];
          const long n = SocketRecv(peer_, buffer, sizeof buffer, kNoDeadline);
          if (n <= 0) {
            data_ = pending_;
            eof_ = true;
            open = false;
            break;
          }
          pending_.append(buffer, static_cast<std::size_t>(n));
        }
        break;
      case Action::kClose:
        open = false;
        break;
      case Action::kPause:
        std::this_thread::sleep_for(action.pause);
        break;
    }
  }
  if (open) {
    std::string line;
    // Unscripted commands get a refusal instead of a silent hang.
    while (ReadLine(line)) {
      commands_.push_back(line);
      static const char kRefusal[] = "-ERR 599 unscripted\r\n";
      SocketSendAll(peer_, kRefusal, sizeof kRefusal - 1, kNoDeadline);
    }
  }
  SocketShutdown(peer_);
  SocketClose(peer_);
  done_ = true;
}

}  // namespace zel::test
