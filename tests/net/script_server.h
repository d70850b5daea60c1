// A scripted one-connection TCP server on 127.0.0.1 for byte-level client
// tests: it plays a fixed list of actions (send bytes, read a command line,
// read a DATA block, close) and records what the client sent.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace zel::test {

class ScriptServer {
 public:
  ScriptServer();
  ~ScriptServer();

  // Building the script (before Start).
  ScriptServer& Send(std::string bytes);   // send these bytes
  ScriptServer& Read();                    // read one command line
  ScriptServer& Reply(std::string bytes);  // Read() then Send(bytes)
  ScriptServer& ReadData();                // read up to and with CR LF . CR LF
  ScriptServer& Close();                   // close the connection now
  ScriptServer& Pause(std::chrono::milliseconds time);  // wait, then go on

  // Accepts one connection on a free port and plays the script on a thread;
  // after the last action it records command lines until the client closes,
  // answering each with "-ERR 599 unscripted".
  void Start();
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // Waits until the connection has ended; then the records are complete.
  void Join();
  const std::vector<std::string>& commands() const { return commands_; }
  const std::string& data() const { return data_; }  // raw DATA bytes
  bool sawEof() const { return eof_; }

 private:
  struct Action {
    enum Kind { kSend, kRead, kReadData, kClose, kPause } kind;
    std::string bytes;
    std::chrono::milliseconds pause{0};
  };
  void Run();
  bool ReadLine(std::string& line);

  std::vector<Action> script_;
  SocketHandle listener_ = kNoSocket;
  SocketHandle peer_ = kNoSocket;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> done_{false};
  std::string pending_;  // received, not yet consumed
  std::vector<std::string> commands_;
  std::string data_;
  bool eof_ = false;
};

}  // namespace zel::test
