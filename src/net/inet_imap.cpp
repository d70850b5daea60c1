// InetImap: responses, mailbox, search, fetch, flags, expunge, IDLE, logout
// (the login is in imap_login.cpp).
#include "net/inet_imap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/ascii_case.h"
#include "platform/log.h"
#include "platform/text_file.h"

namespace zel {

namespace {

// Bytes of a literal read per receive, and the most a streamed message
// gathers before one file write.
constexpr std::size_t kLiteralBlock = 16 * 1024;
constexpr std::size_t kStreamWriteSize = 64 * 1024;
// Responses read after LOGOUT before the channel closes regardless.
constexpr int kLogoutLines = 8;

std::string QuotedName(std::string_view name) {
  std::string out;
  if (!ImapQuoted(name, out)) out = "\"\"";  // modified UTF-7 is 7-bit
  return out;
}

// False when the FETCH data `text` names a UID before its literal and that
// UID is not `uid`.
bool FetchUidIs(std::string_view text, std::uint32_t uid) {
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos) return true;
  ImapTokens tokens(text.substr(open));
  bool next = false;
  for (ImapTokens::Token token = tokens.Next();
       token.kind != ImapTokens::Kind::kEnd && token.kind != ImapTokens::Kind::kError; token = tokens.Next()) {
    std::uint32_t value = 0;
    if (next) return !ImapNumber(token.text, &value) || value == uid;
    next = token.kind == ImapTokens::Kind::kAtom && equalsNoCase(token.text, "UID");
  }
  return true;
}

// The UID of a FETCH response, wherever it stands among its items (before
// or after a literal). Returns false when it names none.
bool FetchResponseUid(const ImapResponse& response, std::uint32_t* uid) {
  int depth = 0;
  bool next = false;
  for (std::size_t i = 0; i < response.lines.size(); ++i) {
    std::string_view text = response.lines[i];
    if (i == 0) {
      const std::size_t open = text.find('(');
      if (open == std::string_view::npos) return false;
      text = text.substr(open);
    }
    ImapTokens tokens(text, depth);
    for (ImapTokens::Token token = tokens.Next();
         token.kind != ImapTokens::Kind::kEnd && token.kind != ImapTokens::Kind::kError; token = tokens.Next()) {
      if (next && depth == 1) return ImapNumber(token.text, uid);
      next = token.kind == ImapTokens::Kind::kAtom && equalsNoCase(token.text, "UID");
      depth = tokens.Depth();
    }
    depth = tokens.Depth();
  }
  return false;
}

}  // namespace

InetImap::ReplyClock::ReplyClock(InetSocket& channel) : channel_(channel), saved_(channel.ReplyDeadline()) {
  channel_.SetReplyDeadline(SocketDeadlineAfter(channel_.Timeout()));
}

InetImap::ReplyClock::~ReplyClock() { channel_.SetReplyDeadline(saved_); }

std::vector<std::string> ImapUidSets(std::vector<std::uint32_t> uids) {
  std::sort(uids.begin(), uids.end());
  uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
  std::vector<std::string> sets;
  std::string set;
  for (std::size_t i = 0; i < uids.size();) {
    std::size_t j = i;
    while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
    std::string run = std::to_string(uids[i]);
    if (j > i) {
      run += ':';
      run += std::to_string(uids[j]);
    }
    if (!set.empty() && set.size() + 1 + run.size() > kImapUidSetMax) {
      sets.push_back(set);
      set.clear();
    }
    if (!set.empty()) set += ',';
    set += run;
    i = j + 1;
  }
  if (!set.empty()) sets.push_back(set);
  return sets;
}

std::string InetImap::Send(const std::string& command) {
  char tag[16];
  std::snprintf(tag, sizeof tag, "Z%04u", ++tagNumber_ % 100000);
  const std::string line = std::string(tag) + " " + command;
  return s_.SendLine(line.c_str()) != 0 ? std::string(tag) : std::string();
}

bool InetImap::ReadLine(std::string& line) {
  line.clear();
  char piece[kReplyLineSize];
  for (;;) {
    InetSocket::LineState state;
    const std::size_t n = s_.RecvLinePiece(piece, sizeof piece, &state);
    if (line.size() + n > kImapLineMax) {
      s_.SetReplyLine({}, false);
      return false;
    }
    line.append(piece, n);
    if (state == InetSocket::kLineEnded) {
      s_.SetReplyLine(line, true);
      return true;
    }
    if (state == InetSocket::kLineCut) {
      s_.SetReplyLine({}, false);
      return false;
    }
  }
}

bool InetImap::ReadResponse(ImapResponse& response, bool streamBody) {
  response.lines.clear();
  response.literals.clear();
  streamed_ = false;
  std::string line;
  std::size_t held = 0;  // bytes of lines and kept literals
  for (;;) {
    if (!ReadLine(line)) return false;
    std::uint64_t size = 0;
    const bool literal = ImapTrailingLiteral(line, &size);
    held += line.size();
    if (held > kImapLineMax) {
      s_.SetReplyLine({}, false);
      return false;  // a response without end: a broken or hostile server
    }
    response.lines.push_back(line);
    if (!literal) return true;
    // The message itself: the FETCH's last item before the literal is BODY[].
    bool body = false;
    if (streamBody && streamSink_ != nullptr) {
      const std::string& first = response.lines.front();
      const std::size_t open = line.rfind('{');
      const std::string_view before = std::string_view(line).substr(0, open);
      body = response.lines.size() == 1 && ParseImapLine(first).word == "FETCH" &&
             (before.size() >= 7 && equalsNoCase(before.substr(before.size() - 7), "BODY[] ")) &&
             FetchUidIs(before, streamUid_);
    }
    response.literals.emplace_back();
    if (body) {
      streamed_ = true;
      if (s_.MessageLimit() != 0 && size > s_.MessageLimit()) {
        streamTooLarge_ = true;
        return false;
      }
      // The message itself may take longer than one time-out: each
      // receive of it has its own.
      const SocketDeadline clock = s_.ReplyDeadline();
      s_.SetReplyDeadline(kNoDeadline);
      const bool whole = StreamLiteral(size);
      s_.SetReplyDeadline(clock);
      if (!whole) return false;
      continue;
    }
    std::string& kept = response.literals.back();
    char block[kLiteralBlock];
    for (std::uint64_t left = size; left > 0;) {
      const std::size_t n = s_.RecvBytes(block, left < sizeof block ? static_cast<std::size_t>(left) : sizeof block);
      if (n == 0) return false;
      if (size <= kImapKeptLiteral) kept.append(block, n);
      left -= n;
    }
    held += kept.size();
  }
}

void InetImap::NoteUntagged(const ImapResponse& response) {
  const ImapLine line = ParseImapLine(response.lines.front());
  if (equalsNoCase(line.word, "EXISTS")) {
    exists = line.number > static_cast<std::uint32_t>(kMaxListing) ? kMaxListing : static_cast<int>(line.number);
  } else if (equalsNoCase(line.word, "CAPABILITY")) {
    capabilities_ = std::string(line.rest);
  } else if (startsWithNoCase(line.code, "CAPABILITY ")) {
    capabilities_ = std::string(line.code.substr(11));
  }
}

ImapStatus InetImap::Wait(const std::string& tag, const std::function<void(const ImapResponse&)>& untagged,
                          const std::function<bool()>& goOn) {
  if (tag.empty()) return ImapStatus::kNone;
  ReplyClock clock(s_);
  ImapResponse response;
  for (;;) {
    if (goOn && !goOn()) return ImapStatus::kNone;
    if (!ReadResponse(response, false)) return ImapStatus::kNone;
    const ImapLine line = ParseImapLine(response.lines.front());
    if (line.kind == ImapLineKind::kTagged && line.tag == tag) {
      if (startsWithNoCase(line.code, "CAPABILITY ")) capabilities_ = std::string(line.code.substr(11));
      return line.status;
    }
    if (line.kind != ImapLineKind::kUntagged) continue;  // another tag's, or a stray "+"
    NoteUntagged(response);
    if (untagged) untagged(response);
    if (line.status == ImapStatus::kBye) {
      // The server is going away; its tagged reply will not come.
      s_.SetReplyLine(response.lines.front(), true);
      if (!ReadResponse(response, false)) return ImapStatus::kNone;
      const ImapLine next = ParseImapLine(response.lines.front());
      if (next.kind == ImapLineKind::kTagged && next.tag == tag) return next.status;
      return ImapStatus::kNone;
    }
  }
}

int InetImap::Select(const std::string& mailbox, bool readOnly) {
  uidValidity = 0;
  exists = 0;
  ahead_.clear();
  const std::string command = (readOnly ? "EXAMINE " : "SELECT ") + QuotedName(mailbox);
  const ImapStatus status = Wait(Send(command), [&](const ImapResponse& response) {
    const ImapLine line = ParseImapLine(response.lines.front());
    std::uint32_t value = 0;
    if (ImapCodeValue(line.code, "UIDVALIDITY", &value)) uidValidity = value;
  });
  if (status != ImapStatus::kOk) {
    s_.NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetImap, "%s コマンドエラー%s%s", command.c_str(), s_.ReplyNote(), s_.TimeoutNote());
    return -203;
  }
  return exists;
}

int InetImap::UidSearch(const char* criteria, std::vector<std::uint32_t>& uids) {
  uids.clear();
  bool malformed = false;
  const ImapStatus status = Wait(Send(std::string("UID SEARCH ") + criteria), [&](const ImapResponse& response) {
    const ImapLine line = ParseImapLine(response.lines.front());
    if (!equalsNoCase(line.word, "SEARCH")) return;
    ImapTokens tokens(line.rest);
    for (ImapTokens::Token token = tokens.Next(); token.kind != ImapTokens::Kind::kEnd; token = tokens.Next()) {
      std::uint32_t uid = 0;
      if (token.kind == ImapTokens::Kind::kAtom && ImapNumber(token.text, &uid) && uid != 0) {
        if (uids.size() >= static_cast<std::size_t>(kMaxListing)) {
          malformed = true;
          return;
        }
        uids.push_back(uid);
      } else if (token.kind != ImapTokens::Kind::kOpen) {
        // "(MODSEQ n)" of CONDSTORE ends the UIDs
        break;
      } else {
        break;
      }
    }
  });
  if (status != ImapStatus::kOk || malformed) {
    s_.NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetImap, "UID SEARCH %s コマンドエラー%s%s", criteria, s_.ReplyNote(), s_.TimeoutNote());
    uids.clear();
    return -204;
  }
  return 1;
}

int InetImap::FetchMessageIds(std::vector<std::pair<std::uint32_t, std::string>>& ids) {
  ids.clear();
  const ImapStatus status = Wait(
      Send("UID FETCH 1:* (UID BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])"), [&](const ImapResponse& response) {
        if (!equalsNoCase(ParseImapLine(response.lines.front()).word, "FETCH")) return;
        std::uint32_t uid = 0;
        std::string header;
        int depth = 0;
        bool wantUid = false;
        bool wantBody = false;
        for (std::size_t i = 0; i < response.lines.size(); ++i) {
          std::string_view text = response.lines[i];
          if (i == 0) {
            const std::size_t open = text.find('(');
            if (open == std::string_view::npos) return;
            text = text.substr(open);
          }
          ImapTokens tokens(text, depth);
          for (ImapTokens::Token token = tokens.Next();
               token.kind != ImapTokens::Kind::kEnd && token.kind != ImapTokens::Kind::kError;
               token = tokens.Next()) {
            if (wantUid) ImapNumber(token.text, &uid);
            if (wantBody && token.kind == ImapTokens::Kind::kLiteral && i < response.literals.size()) {
              header = response.literals[i];
            } else if (wantBody && token.kind == ImapTokens::Kind::kQuoted) {
              header = ImapTokens::Unquote(token.text);
            }
            wantUid = token.kind == ImapTokens::Kind::kAtom && equalsNoCase(token.text, "UID");
            wantBody = token.kind == ImapTokens::Kind::kAtom && startsWithNoCase(token.text, "BODY[");
          }
          depth = tokens.Depth();
        }
        if (uid == 0) return;
        // The field's first line, as the POP3 client captures it.
        s_.StartCapture();
        std::size_t at = 0;
        while (at < header.size()) {
          std::size_t end = header.find('\n', at);
          if (end == std::string::npos) end = header.size();
          std::size_t length = end - at;
          if (length > 0 && header[at + length - 1] == '\r') --length;
          if (length > 0) s_.CaptureHeader(header.data() + at, std::min(length, kReplyLineSize - 1));
          at = end + 1;
        }
        ids.emplace_back(uid, s_.messageId);
      });
  if (status != ImapStatus::kOk) {
    s_.NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetImap, "UID FETCH (MESSAGE-ID) コマンドエラー%s%s", s_.ReplyNote(), s_.TimeoutNote());
    ids.clear();
    return -208;
  }
  return 1;
}

bool InetImap::StreamLiteral(std::uint64_t size) {
  char in[kLiteralBlock];
  std::string out;
  out.reserve(kStreamWriteSize + 2 * kLiteralBlock);
  std::string header;  // the header line being read (its first piece)
  bool inHeader = true;
  bool lineStart = true;
  char last = '\n';
  auto flush = [&] {
    if (!out.empty() && !streamSink_->write(out)) {
      streamWritten_ = false;
    }
    out.clear();
  };
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = s_.RecvBytes(in, left < sizeof in ? static_cast<std::size_t>(left) : sizeof in);
    if (n == 0) {
      flush();
      streamCut_ = true;
      return false;
    }
    left -= n;
    last = in[n - 1];
    std::size_t at = 0;
    while (at < n) {
      // A line that begins with "." takes another, as on the POP3 wire.
      if (lineStart && in[at] == '.') out += '.';
      const void* lf = std::memchr(in + at, '\n', n - at);
      const std::size_t end = lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - in) + 1 : n;
      out.append(in + at, end - at);
      if (inHeader) {
        header.append(in + at, std::min(end - at, kReplyLineSize - 1 - std::min(header.size(), kReplyLineSize - 1)));
      }
      lineStart = lf != nullptr;
      at = end;
      if (inHeader && lineStart) {
        std::size_t length = header.size();
        while (length > 0 && (header[length - 1] == '\n' || header[length - 1] == '\r')) --length;
        if (length == 0) {
          inHeader = false;
          s_.ReportProgress();
        } else {
          s_.CaptureHeader(header.data(), length);
        }
        header.clear();
      }
    }
    if (out.size() >= kStreamWriteSize) flush();
  }
  if (size > 0 && last != '\n') out += "\r\n";  // every line ends CR LF, the last too
  flush();
  return true;
}

int InetImap::SendFetchAhead(std::uint32_t uid) {
  const std::string tag = Send("UID FETCH " + std::to_string(uid) + " BODY.PEEK[]");
  if (tag.empty()) return 0;
  ahead_.emplace_back(uid, tag);
  return 1;
}

int InetImap::FetchBody(std::uint32_t uid, LineSink& sink) {
  std::string tag;
  if (!ahead_.empty() && ahead_.front().first == uid) {
    tag = ahead_.front().second;
    ahead_.pop_front();
  } else {
    tag = Send("UID FETCH " + std::to_string(uid) + " BODY.PEEK[]");
  }
  s_.StartCapture();
  streamSink_ = &sink;
  streamUid_ = uid;
  streamWritten_ = true;
  streamCut_ = false;
  streamTooLarge_ = false;
  ReplyClock clock(s_);
  // The message's FETCH may come before the tagged replies of commands
  // sent earlier (a server works on pipelined commands at once): the
  // retrieval ends with its data, and tagged replies are matched by tag
  // whenever they come.
  bool came = false;
  ImapStatus status = ImapStatus::kNone;
  ImapResponse response;
  while (!tag.empty() && ReadResponse(response, true)) {
    const ImapLine line = ParseImapLine(response.lines.front());
    if (line.kind == ImapLineKind::kTagged) {
      if (line.tag != tag) continue;
      status = line.status;
      break;
    }
    if (line.kind != ImapLineKind::kUntagged) continue;
    NoteUntagged(response);
    if (streamed_) {
      came = true;
      status = ImapStatus::kOk;
      break;
    }
  }
  streamSink_ = nullptr;
  if (streamTooLarge_) {
    const int result = s_.RefuseTooLarge("UID " + std::to_string(uid));
    ZEL_LOG(InetImap, "%s", s_.Failure().text);
    return result;
  }
  std::uint32_t answered = 0;
  if (came && (!FetchResponseUid(response, &answered) || answered != uid)) {
    // A server that answers with another message (its UID after the
    // literal) is not trusted with anything more: no flag is set in this
    // session.
    s_.NoteFailure(FailureKind::kServer, "UID FETCH %u の応答が別のメッセージ (UID %u) [%s]", uid, answered,
                   s_.Host());
    ZEL_LOG(InetImap, "UID FETCH %u の応答が別のメッセージ (UID %u)", uid, answered);
    s_.Close();
    return -205;
  }
  if (streamCut_) {
    s_.NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetImap, "UID FETCH %u コマンド応答エラー%s", uid, s_.TimeoutNote());
    return -211;
  }
  if (status != ImapStatus::kOk || !came) {
    s_.NoteReplyFailure(FailureKind::kServer);
    if (status == ImapStatus::kOk) s_.NoteFailure(FailureKind::kServer, "メッセージがない UID %u [%s]", uid, s_.Host());
    ZEL_LOG(InetImap, "UID FETCH %u コマンドエラー%s%s", uid, s_.ReplyNote(), s_.TimeoutNote());
    return -205;
  }
  if (!streamWritten_) {
    ZEL_LOG(InetImap, "受信ファイル書き込み失敗 UID %u", uid);
    return -210;
  }
  return 1;
}

int InetImap::StoreFlags(const std::vector<std::uint32_t>& uids, const char* flags) {
  for (const std::string& set : ImapUidSets(uids)) {
    const std::string command = "UID STORE " + set + " +FLAGS.SILENT (" + flags + ")";
    if (Wait(Send(command), nullptr) != ImapStatus::kOk) {
      s_.NoteReplyFailure(FailureKind::kServer);
      ZEL_LOG(InetImap, "UID STORE %s コマンドエラー%s%s", flags, s_.ReplyNote(), s_.TimeoutNote());
      return -211;
    }
  }
  return 1;
}

int InetImap::Expunge(const std::vector<std::uint32_t>& uids) {
  if (uids.empty()) return 0;
  if (HasCapability("UIDPLUS")) {
    for (const std::string& set : ImapUidSets(uids)) {
      if (Wait(Send("UID EXPUNGE " + set), nullptr) != ImapStatus::kOk) {
        s_.NoteReplyFailure(FailureKind::kServer);
        ZEL_LOG(InetImap, "UID EXPUNGE コマンドエラー%s%s", s_.ReplyNote(), s_.TimeoutNote());
        return -211;
      }
    }
    return 1;
  }
  // A plain EXPUNGE removes every marked message: only when all are ours.
  std::vector<std::uint32_t> marked;
  if (UidSearch("DELETED", marked) != 1) return -211;
  std::vector<std::uint32_t> ours = uids;
  std::sort(ours.begin(), ours.end());
  for (std::uint32_t uid : marked) {
    if (!std::binary_search(ours.begin(), ours.end(), uid)) {
      ZEL_LOG(InetImap, "他の削除マークがあるため EXPUNGE しない [UID %u]", uid);
      return 0;
    }
  }
  if (Wait(Send("EXPUNGE"), nullptr) != ImapStatus::kOk) {
    s_.NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetImap, "EXPUNGE コマンドエラー%s%s", s_.ReplyNote(), s_.TimeoutNote());
    return -211;
  }
  return 1;
}

int InetImap::Idle(int seconds, const std::function<bool()>& goOn) {
  const int before = exists;
  const std::string tag = Send("IDLE");
  if (tag.empty()) return -1;
  ImapResponse response;
  // Untagged data may come before the "+" that starts the idle state; a
  // stop request ends the session.
  const auto stopped = [&] {
    if (!goOn || goOn()) return false;
    s_.Close();
    return true;
  };
  {
    ReplyClock clock(s_);
    for (;;) {
      if (stopped()) return 0;
      if (!ReadResponse(response, false)) return -1;
    const ImapLine line = ParseImapLine(response.lines.front());
      if (line.kind == ImapLineKind::kContinuation) break;
      if (line.kind == ImapLineKind::kTagged && line.tag == tag) {
        ZEL_LOG(InetImap, "IDLE コマンドエラー %s", response.lines.front().c_str());
        return -1;
      }
      NoteUntagged(response);
    }
  }
  const SocketDeadline deadline = SocketDeadlineAfter(seconds);
  int result = 0;
  while (exists <= before && (!goOn || goOn())) {
    const long long left = SocketTimeLeft(deadline);
    if (left == 0) break;
    // In steps of a second when someone may end the wait.
    const int waited = s_.WaitForData(goOn ? 1 : static_cast<int>((left + 999) / 1000));
    if (waited < 0) return -1;
    if (waited == 0) continue;
    if (!ReadResponse(response, false)) return -1;
    const ImapLine line = ParseImapLine(response.lines.front());
    if (line.kind == ImapLineKind::kUntagged) NoteUntagged(response);
    if (line.status == ImapStatus::kBye) return -1;
  }
  if (exists > before) result = 1;
  if (s_.SendLine("DONE") == 0) return -1;
  const ImapStatus done = Wait(tag, nullptr, goOn);
  if (done != ImapStatus::kOk) return stopped() ? result : -1;
  return result;
}

void InetImap::Logout() {
  ahead_.clear();
  if (s_.IsConnected() && s_.IsEnabled()) {
    const std::string tag = Send("LOGOUT");
    ImapResponse response;
    // "* BYE", then the tagged OK; a server that says more is not waited for.
    for (int i = 0; !tag.empty() && i < kLogoutLines && ReadResponse(response, false); ++i) {
      const ImapLine line = ParseImapLine(response.lines.front());
      if (line.kind == ImapLineKind::kTagged && line.tag == tag) break;
    }
  }
  s_.Close();
}

}  // namespace zel
