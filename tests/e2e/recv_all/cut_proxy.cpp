#include "cut_proxy.h"

#include <algorithm>
#include <deque>
#include <cstdlib>
#include <stdexcept>

#include "platform/ascii_case.h"

namespace zel::e2e {

namespace {
constexpr std::size_t kRelayBlock = 16 * 1024;  // bytes relayed per receive
constexpr std::int64_t kNever = INT64_MAX;
const std::string kRefusal = "-ERR refused by the test proxy\r\n";

// True when the reply to `command` is a listing that ends with "." (RETR,
// TOP, and LIST or UIDL without an argument), once it begins with "+".
bool MultiLine(const std::string& command) {
  const std::size_t blank = command.find(' ');
  const std::string word = command.substr(0, blank);
  if (equalsNoCase(word, "RETR") || equalsNoCase(word, "TOP")) return true;
  return (equalsNoCase(word, "LIST") || equalsNoCase(word, "UIDL")) && blank == std::string::npos;
}

// Finds where the server's replies begin in its byte stream: one reply per
// command, in command order (the greeting first), even when the client has
// sent several commands before reading their replies. A POP3 reply ends
// with its status line, or with "." after "+" for a multi-line one; an
// IMAP reply with the line that starts with its tag (the greeting's with
// its first line), the bytes of a literal "{n}" never taken for a line.
class ReplyTracker {
 public:
  // A command was passed on; its reply follows the earlier ones.
  // `multiLine` for POP3; `tag` for IMAP ("" for the greeting).
  void Expect(std::size_t index, bool multiLine, const std::string& tag = "") {
    queue_.push_back({index, multiLine, tag});
  }
  void SetImap(bool imap) { imap_ = imap; }
  // The transcript index of the reply the last byte fed ended, or -1.
  long Ended() const { return ended_; }
  // Feeds the next byte of the server's stream; returns the transcript
  // index of the reply that begins with it, or -1.
  long Feed(char c) {
    long begins = -1;
    ended_ = -1;
    if (!inReply_ && !queue_.empty()) {
      current_ = queue_.front();
      queue_.pop_front();
      inReply_ = true;
      firstLine_ = true;
      line_.clear();
      begins = static_cast<long>(current_.index);
    }
    if (literal_ > 0) {
      --literal_;
      return begins;
    }
    line_ += c;
    if (line_.size() >= 2 && line_.compare(line_.size() - 2, 2, "\r\n") == 0) {
      bool ends;
      if (imap_) {
        ends = current_.tag.empty() || line_.compare(0, current_.tag.size() + 1, current_.tag + " ") == 0;
        const std::size_t open = line_.rfind('{');
        if (line_.size() > 3 && line_[line_.size() - 3] == '}' && open != std::string::npos) {
          literal_ = std::strtoll(line_.c_str() + open + 1, nullptr, 10);
        }
      } else {
        ends = firstLine_ ? !(current_.multiLine && line_[0] == '+') : line_ == ".\r\n";
      }
      firstLine_ = false;
      line_.clear();
      if (ends) {
        inReply_ = false;
        ended_ = static_cast<long>(current_.index);
      }
    }
    return begins;
  }

 private:
  struct Expected {
    std::size_t index;
    bool multiLine;
    std::string tag;
  };
  std::deque<Expected> queue_;
  Expected current_{0, false, ""};
  bool inReply_ = false;
  bool firstLine_ = true;
  bool imap_ = false;
  long long literal_ = 0;  // bytes of a literal still to come
  std::string line_;
  long ended_ = -1;  // Ended()
};

}  // namespace

CutProxy::CutProxy(const std::string& host, int port, Protocol protocol)
    : host_(host), serverPort_(port), protocol_(protocol) {
  listener_ = SocketListenLoopback(&port_);
  if (listener_ == kNoSocket) throw std::runtime_error("no loopback listener");
  thread_ = std::thread([this] { AcceptLoop(); });
}

CutProxy::~CutProxy() {
  // A connection of its own wakes the accept loop: shutting the listener
  // down does not end a waiting accept under Wine.
  stopping_ = true;
  const SocketHandle wake = SocketCreateTcp();
  IpAddress loopback;
  ParseIpAddress("127.0.0.1", &loopback);
  if (wake != kNoSocket) SocketConnect(wake, loopback, port_, SocketDeadlineAfter(5));
  SocketShutdown(listener_);
  thread_.join();
  if (wake != kNoSocket) SocketClose(wake);
  SocketClose(listener_);
}

void CutProxy::SetCut(const Cut& cut) {
  std::lock_guard<std::mutex> lock(mutex_);
  cut_ = cut;
}

void CutProxy::DropConnection() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (liveClient_ != kNoSocket) SocketShutdown(liveClient_);
  if (liveServer_ != kNoSocket) SocketShutdown(liveServer_);
}

void CutProxy::Refuse(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_ = command;
}

std::vector<CutProxy::Command> CutProxy::Transcript(std::int64_t* downTotal) {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return !busy_; });
  if (downTotal != nullptr) *downTotal = downBytes_;
  return transcript_;
}

void CutProxy::AcceptLoop() {
  for (;;) {
    const SocketHandle client = SocketAccept(listener_);
    if (client == kNoSocket) return;
    if (stopping_) {
      SocketClose(client);
      return;
    }
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
  IpAddress address;
  ParseIpAddress(host_.c_str(), &address);
  const SocketHandle server = SocketCreateTcp(address.family);
  if (server == kNoSocket ||
      SocketConnect(server, address, serverPort_, kNoDeadline) != SocketStatus::kOk) {
    if (server != kNoSocket) SocketClose(server);
    SocketClose(client);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    liveClient_ = client;
    liveServer_ = server;
  }
  auto shutBoth = [&] {
    SocketShutdown(client);
    SocketShutdown(server);
  };
  // Everything below under mutex_: the transcript, the reply tracker, the
  // bytes sent to the client and the cut points of both directions.
  ReplyTracker replies;
  const bool imap = protocol_ == Protocol::kImap;
  replies.SetImap(imap);
  std::int64_t cutDown = kNever;
  std::int64_t cutUp = kNever;
  std::size_t cutIndex = SIZE_MAX;  // transcript index of the command cut
  if (cut.command.empty() && cut.direction == Direction::kToClient) cutDown = cut.offset;
  if (cut.command.empty() && cut.direction == Direction::kToServer) cutUp = cut.offset;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    transcript_.push_back({"", 0, 0});  // the greeting
    replies.Expect(0, false);
  }

  std::thread down([&] {
    char buffer[kRelayBlock];
    for (;;) {
      const long n = SocketRecv(server, buffer, sizeof buffer, kNoDeadline);
      if (n <= 0) break;
      long allowed = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (; allowed < n; ++allowed) {
          const std::int64_t at = downBytes_ + allowed;
          const long begins = replies.Feed(buffer[allowed]);
          if (begins >= 0) {
            transcript_[static_cast<std::size_t>(begins)].down = at;
            if (static_cast<std::size_t>(begins) == cutIndex) cutDown = at + cut.offset;
          }
          // The cut falls inside the reply of this run, however long it
          // is here: at its last byte when it ends before the offset.
          if (replies.Ended() >= 0 && static_cast<std::size_t>(replies.Ended()) == cutIndex && at < cutDown) {
            cutDown = at;
          }
          if (at >= cutDown) break;
        }
        // Counted before sending: the client may answer as soon as it has them.
        downBytes_ += allowed;
      }
      if (allowed > 0 &&
          SocketSendAll(client, buffer, static_cast<std::size_t>(allowed), kNoDeadline) !=
              SocketStatus::kOk) {
        break;
      }
      if (allowed < n) break;
      std::lock_guard<std::mutex> lock(mutex_);
      if (downBytes_ >= cutDown) break;
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
      std::string command = line.substr(0, line.size() - 2);
      std::string tag;
      if (imap) {
        const std::size_t blank = command.find(' ');
        tag = command.substr(0, blank);
        command = blank != std::string::npos ? command.substr(blank + 1) : std::string();
      }
      const std::string word = command.substr(0, command.find(' '));
      const bool refuse = !refused.empty() && equalsNoCase(word, refused);
      std::int64_t allowed = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t index = transcript_.size();
        transcript_.push_back({command, received - static_cast<std::int64_t>(line.size()), 0});
        if (!cut.command.empty() && startsWithNoCase(command, cut.command) &&
            ++seen == cut.occurrence) {
          cutIndex = index;
          if (cut.direction == Direction::kToServer) cutUp = forwarded + cut.offset;
        }
        if (refuse) {
          // Sent at once: the client waits for this reply (UIDL is never
          // sent behind other commands), so no server reply is in between.
          transcript_.back().down = downBytes_;
          downBytes_ += static_cast<std::int64_t>(kRefusal.size());
        } else {
          allowed = std::min<std::int64_t>(static_cast<std::int64_t>(line.size()), cutUp - forwarded);
          if (allowed == static_cast<std::int64_t>(line.size())) {
            replies.Expect(index, MultiLine(command), tag);
          }
        }
      }
      if (refuse) {
        SocketSendAll(client, kRefusal.data(), kRefusal.size(), kNoDeadline);
      } else {
        if (allowed > 0) {
          SocketSendAll(server, line.data(), static_cast<std::size_t>(allowed), kNoDeadline);
        }
        forwarded += allowed;
        open = forwarded < cutUp;
      }
      line.clear();
    }
  }
  shutBoth();
  down.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    liveClient_ = kNoSocket;
    liveServer_ = kNoSocket;
  }
  SocketClose(client);
  SocketClose(server);
}

}  // namespace zel::e2e
