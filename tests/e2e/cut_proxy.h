// A fault-injecting TCP proxy on 127.0.0.1 between the library and a real
// server. It relays both ways, one connection after another, and records
// where each client command begins in both byte streams. It can cut a
// connection after a given number of bytes in either direction (both ends
// are then shut down, as when a line fails), and answer one command itself
// with "-ERR" instead of passing it on (a server without that command).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace zel::e2e {

class CutProxy {
 public:
  enum class Direction { kNone, kToClient, kToServer };

  // One command line of the client, with the byte offsets at which it
  // started (client to server) and its reply starts (server to client).
  struct Command {
    std::string line;
    std::int64_t up = 0;
    std::int64_t down = 0;
  };

  // Relays to `host`:`port`. Starts listening at once (see port()).
  CutProxy(const std::string& host, int port);
  ~CutProxy();
  CutProxy(const CutProxy&) = delete;
  CutProxy& operator=(const CutProxy&) = delete;

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // Settings for the connections accepted from now on.
  void CutAfter(Direction direction, std::int64_t bytes);
  void Refuse(const std::string& command);  // "" refuses nothing

  // Waits until the last accepted connection has ended; then returns its
  // commands and the total bytes sent to the client.
  std::vector<Command> Transcript();
  std::int64_t DownBytes();

 private:
  void AcceptLoop();
  void Serve(SocketHandle client);

  std::string host_;
  int serverPort_;
  int port_ = 0;
  SocketHandle listener_ = kNoSocket;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable idle_;
  bool busy_ = false;
  Direction direction_ = Direction::kNone;
  std::int64_t cutBytes_ = 0;
  std::string refused_;
  std::vector<Command> transcript_;
  std::int64_t downBytes_ = 0;
};

}  // namespace zel::e2e
