// A scripted one-connection TCP server on 127.0.0.1 for byte-level client
// tests: it plays a fixed list of actions (send bytes, read a command line,
// read a DATA block, close, start TLS) and records what the client sent.
//
// TLS (native builds only, with OpenSSL; see TlsAvailable): the server
// takes the certificate made for the tests (TestCertificates()), which
// names localhost and 127.0.0.1 and is signed by ca.pem there; other-ca.pem
// signed nothing the server shows.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace zel::test {

class ScriptServer {
 public:
  // The longest a session lasts: then the server hangs up, so that a
  // client fault ends a test in seconds.
  static constexpr int kSessionSeconds = 20;

  ScriptServer();
  ~ScriptServer();

  // Building the script (before Start).
  ScriptServer& Send(std::string bytes);   // send these bytes
  ScriptServer& Read();                    // read one command line
  ScriptServer& Reply(std::string bytes);  // Read() then Send(bytes)
  ScriptServer& ReadData();                // read up to and with CR LF . CR LF
  ScriptServer& Close();                   // close the connection now
  ScriptServer& Pause(std::chrono::milliseconds time);  // wait, then go on
  ScriptServer& StartTls();  // TLS handshake as the server; then all over TLS

  // True when StartTls can be played (a native build with the test
  // certificates); the folder of those certificates.
  static bool TlsAvailable();
  static std::string TestCertificates();

  // Listens on `address` (an IPv4 or IPv6 address of this machine, such
  // as "::1") instead of 127.0.0.1, at `port` when not 0. Before Start.
  void ListenOn(const std::string& address, int port = 0) {
    listenAddress_ = address;
    port_ = port;
  }

  // Accepts one connection on a free port and plays the script on a thread;
  // after the last action it records command lines until the client closes,
  // answering each with "-ERR 599 unscripted".
  void Start();
  int port() const { return port_; }
  // The server name a client connects to: "127.0.0.1:port", "[::1]:port".
  std::string address() const {
    const bool v6 = listenAddress_.find(':') != std::string::npos;
    return (v6 ? "[" + listenAddress_ + "]" : listenAddress_) + ":" + std::to_string(port_);
  }

  // Waits until the connection has ended; then the records are complete.
  void Join();
  const std::vector<std::string>& commands() const { return commands_; }
  const std::string& data() const { return data_; }  // raw DATA bytes
  bool sawEof() const { return eof_; }

 private:
  struct Action {
    enum Kind { kSend, kRead, kReadData, kClose, kPause, kStartTls } kind;
    std::string bytes;
    std::chrono::milliseconds pause{0};
  };
  void Run();
  bool ReadLine(std::string& line);
  // Receives once into `buffer` (plain or over TLS); <= 0 at the end.
  long Receive(char* buffer, std::size_t size);
  void SendBytes(const std::string& bytes);
  bool AcceptTls();
  void EndTls();

  std::vector<Action> script_;
  std::string listenAddress_ = "127.0.0.1";
  void* tls_ = nullptr;  // the server's SSL object while TLS is on
  SocketHandle listener_ = kNoSocket;
  std::atomic<SocketHandle> peer_{kNoSocket};  // read by the destructor too
  int port_ = 0;
  SocketDeadline deadline_ = kNoDeadline;  // the session's end
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::string pending_;  // received, not yet consumed
  std::vector<std::string> commands_;
  std::string data_;
  bool eof_ = false;
};

}  // namespace zel::test
