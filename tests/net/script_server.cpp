#include "script_server.h"

#include <stdexcept>

#ifdef ZEL_TEST_CERTS
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#endif

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
ScriptServer& ScriptServer::StartTls() {
  script_.push_back({Action::kStartTls, {}});
  return *this;
}

#ifdef ZEL_TEST_CERTS
bool ScriptServer::TlsAvailable() { return true; }
std::string ScriptServer::TestCertificates() { return ZEL_TEST_CERTS; }

bool ScriptServer::AcceptTls() {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  const std::string dir = TestCertificates();
  SSL* ssl = nullptr;
  if (context != nullptr &&
      SSL_CTX_use_certificate_chain_file(context, (dir + "/cert.pem").c_str()) == 1 &&
      SSL_CTX_use_PrivateKey_file(context, (dir + "/key.pem").c_str(), SSL_FILETYPE_PEM) == 1) {
    ssl = SSL_new(context);
  }
  SSL_CTX_free(context);  // the SSL object keeps its own reference
  if (ssl == nullptr || SSL_set_fd(ssl, static_cast<int>(peer_)) != 1 || SSL_accept(ssl) != 1) {
    SSL_free(ssl);
    ERR_clear_error();
    return false;
  }
  tls_ = ssl;
  return true;
}

void ScriptServer::EndTls() {
  SSL_free(static_cast<SSL*>(tls_));
  tls_ = nullptr;
  ERR_clear_error();
}

long ScriptServer::Receive(char* buffer, std::size_t size) {
  if (tls_ == nullptr) return SocketRecv(peer_, buffer, size, deadline_);
  if (SSL_pending(static_cast<SSL*>(tls_)) == 0 &&
      SocketWait(peer_, SocketEvent::kReadable, deadline_) != SocketStatus::kOk) {
    return 0;
  }
  const int n = SSL_read(static_cast<SSL*>(tls_), buffer, static_cast<int>(size));
  return n > 0 ? n : 0;
}

void ScriptServer::SendBytes(const std::string& bytes) {
  if (tls_ == nullptr) {
    SocketSendAll(peer_, bytes.data(), bytes.size(), deadline_);
  } else if (!bytes.empty()) {
    SSL_write(static_cast<SSL*>(tls_), bytes.data(), static_cast<int>(bytes.size()));
  }
}
#else
bool ScriptServer::TlsAvailable() { return false; }
std::string ScriptServer::TestCertificates() { return {}; }
bool ScriptServer::AcceptTls() { return false; }
void ScriptServer::EndTls() {}
long ScriptServer::Receive(char* buffer, std::size_t size) {
  return SocketRecv(peer_, buffer, size, deadline_);
}
void ScriptServer::SendBytes(const std::string& bytes) {
  SocketSendAll(peer_, bytes.data(), bytes.size(), deadline_);
}
#endif

void ScriptServer::Start() {
  IpAddress address;
  if (!ParseIpAddress(listenAddress_.c_str(), &address)) throw std::runtime_error("bad address");
  listener_ = SocketListenAt(address, &port_);
  if (listener_ == kNoSocket) throw std::runtime_error("no listener");
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
    const long n = Receive(buffer, sizeof buffer);
    if (n <= 0) {
      eof_ = true;
      return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

void ScriptServer::Run() {
#ifdef ZEL_TEST_CERTS
  // OpenSSL writes with write(): a client gone away must not stop the
  // tests with SIGPIPE. Blocked for this thread alone, which causes it.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
#endif
  peer_ = SocketAccept(listener_);
  if (peer_ == kNoSocket) {
    done_ = true;
    return;
  }
  // A client that waits where the script does not answer meets the end
  // of the session within seconds, not its own time-out.
  deadline_ = SocketDeadlineAfter(kSessionSeconds);
  bool open = true;
  for (const Action& action : script_) {
    if (!open) break;
    switch (action.kind) {
      case Action::kSend:
        SendBytes(action.bytes);
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
          const long n = Receive(buffer, sizeof buffer);
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
      case Action::kStartTls:
        pending_.clear();  // what the client sent in plain text is gone
        open = AcceptTls();
        break;
    }
  }
  if (open) {
    std::string line;
    // Unscripted commands get a refusal instead of a silent hang.
    while (ReadLine(line)) {
      commands_.push_back(line);
      SendBytes("-ERR 599 unscripted\r\n");
    }
  }
  EndTls();
  SocketShutdown(peer_);
  SocketClose(peer_);
  done_ = true;
}

}  // namespace zel::test
