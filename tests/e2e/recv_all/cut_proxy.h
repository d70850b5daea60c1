// A fault-injecting TCP proxy on 127.0.0.1 between the library and a real
// POP3 or IMAP server. It relays both ways, one connection after another,
// and records each client command with the byte offsets where it and its
// reply start (replies are told apart by the protocol's rules: POP3's
// status line and "." end, IMAP's tagged line with literals skipped; so
// commands the client sends ahead of their replies are placed right). An
// IMAP command is recorded without its tag ("UID FETCH 7 BODY.PEEK[]").
// It can cut a connection at a point of a chosen stage (both ends are then
// shut down, as when a line fails), and answer one command itself with
// "-ERR" instead of passing it on (a server without that command).
#pragma once

#include <atomic>
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

  // Where a connection is cut: `offset` bytes into the reply (kToClient) or
  // into the command line (kToServer) of the `occurrence`-th (1-based)
  // client command that starts with `command`; with an empty `command`,
  // `offset` bytes from the start of the connection's stream.
  struct Cut {
    Direction direction = Direction::kNone;
    std::string command;
    int occurrence = 1;
    std::int64_t offset = 0;
  };

  // One command line of the client ("" for the greeting, which comes
  // first), with the byte offsets at which it started (client to server)
  // and its reply starts (server to client).
  struct Command {
    std::string line;
    std::int64_t up = 0;
    std::int64_t down = 0;
  };

  enum class Protocol { kPop3, kImap };

  // Relays to `host`:`port`. Starts listening at once (see address()).
  CutProxy(const std::string& host, int port, Protocol protocol = Protocol::kPop3);
  ~CutProxy();
  CutProxy(const CutProxy&) = delete;
  CutProxy& operator=(const CutProxy&) = delete;

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // Settings for the connections accepted from now on.
  void SetCut(const Cut& cut);
  void Refuse(const std::string& command);  // "" refuses nothing (POP3 only)

  // Shuts the connection being relayed down both ways now (a server that
  // went away under its client); later connections are relayed as before.
  void DropConnection();

  // Waits until the last accepted connection has ended; returns its
  // commands and the total of bytes that reached the client.
  std::vector<Command> Transcript(std::int64_t* downTotal = nullptr);

 private:
  void AcceptLoop();
  void Serve(SocketHandle client);

  std::string host_;
  int serverPort_;
  Protocol protocol_;
  int port_ = 0;
  SocketHandle listener_ = kNoSocket;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  std::mutex mutex_;
  std::condition_variable idle_;
  bool busy_ = false;
  Cut cut_;
  std::string refused_;
  std::vector<Command> transcript_;
  std::int64_t downBytes_ = 0;  // bytes that reached the client
  SocketHandle liveClient_ = kNoSocket;  // the connection being relayed
  SocketHandle liveServer_ = kNoSocket;
};

}  // namespace zel::e2e
