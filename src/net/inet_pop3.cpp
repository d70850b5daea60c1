// InetPop3: login, listing, retrieval, TOP, DELE and STAT.
#include "net/inet_pop3.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "codec/md5.h"
#include "platform/ascii_case.h"
#include "platform/sjis_text.h"
#include "platform/log.h"
#include "platform/text_file.h"

namespace zel {

namespace {

// Retrieved bytes gathered before one file write: a typical message in one
// write instead of one per line, and always room for a whole piece.
constexpr std::size_t kRetrWriteSize = 4 * kReplyLineSize;

// True when `line` (length `length`) starts with header `name` (with its
// colon), in any case.
bool HasHeaderName(const char* line, std::size_t length, std::string_view name) {
  if (length < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    char n = name[i];
    if (n >= 'A' && n <= 'Z') n = static_cast<char>(n - 'A' + 'a');
    if (c != n) return false;
  }
  return true;
}

// First field of a listing line as a number (0 for the end line ".").
int ListingNumber(const char* line) {
  return static_cast<int>(std::strtol(line, nullptr, 10));
}

// The kind of a refused login: RFC 3206's response codes tell a server
// that cannot log anyone in now from a refused account.
FailureKind LoginRefusal(const char* reply) {
  for (const char* code : {"[SYS/TEMP]", "[IN-USE]", "[LOGIN-DELAY]"}) {
    if (findNoCase(reply, code) != std::string_view::npos) return FailureKind::kTemporary;
  }
  if (findNoCase(reply, "[SYS/PERM]") != std::string_view::npos) return FailureKind::kServer;
  return FailureKind::kAuth;
}

// The AUTH exchange of RFC 5034 over the POP3 channel. The AUTH command
// with its initial response stays within 255 octets (RFC 5034 4); a longer
// response follows the empty challenge.
class Pop3Sasl final : public SaslLineChannel {
 public:
  explicit Pop3Sasl(InetPop3& client)
      : SaslLineChannel(client, "AUTH", 255 - sizeof("AUTH OAUTHBEARER ")) {}
  Answer Receive(std::string& challenge) override {
    const char* reply = socket_.replyLine;
    if (socket_.RecvLine() == 0 || reply[0] != '+') return Answer::kFailure;
    if (reply[1] == ' ' || reply[1] == '\0') {
      challenge = reply[1] == ' ' ? reply + 2 : "";
      return Answer::kChallenge;
    }
    return Answer::kSuccess;  // "+OK"
  }
};

// Skips one space-separated field and the blanks after it.
const char* SecondField(const char* line) {
  const char* p = line;
  while (*p == ' ') ++p;
  while (*p != '\0' && *p != ' ') ++p;
  while (*p == ' ') ++p;
  return p;
}

}  // namespace

InetPop3::InetPop3() = default;

int InetPop3::Login(const char* host, int port, const char* user,
                    const char* password, int apop) {
  owner_.store(std::this_thread::get_id());
  DiscardListing();  // a listing never outlives its connection
  switch (const int connected = Connect(host, port)) {
    case 1:
      break;
    case -4:
    case -5:
    case -6:
      return ReportTlsFailure(connected, host);
    case -2:
      ZEL_LOG(InetPop3, "ソケットの作成に失敗 [%s]", Text(host));
      return -101;
    case -3:
      ZEL_LOG(InetPop3, "コネクトエラー発生 [%s]%s", Text(host), TimeoutNote());
      return -102;
    default:
      ZEL_LOG(InetPop3, "ホスト名解決に失敗 [%s]", Text(host));
      return -100;
  }
  // A password or token goes in the clear only to this machine.
  if (authMode_ != kPopAuthClassic && TlsMode() == kTlsOff && !PeerIsLoopback()) {
    ZEL_LOG(InetPop3, "暗号化されていない接続ではPOP3認証しない [%s]", Text(host));
    NoteFailure(FailureKind::kSetting, "暗号化されていない接続ではPOP3認証しない [%s]", Text(host));
    return kAuthUnencrypted;
  }
  if (RecvLine() == 0 || replyLine[0] != '+') {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetPop3, "POP3接続応答エラー [%s]%s%s", Text(host), ReplyNote(), TimeoutNote());
    return -200;
  }
  // APOP takes the timestamp of the greeting, the one before STLS too.
  std::string greeting;
  const char* stamped = replyLine;
  if (TlsMode() == kTlsStartTls) {
    greeting = replyLine;
    stamped = greeting.c_str();
    if (SendLine("STLS") == 0 || RecvLine() == 0 || replyLine[0] != '+') {
      // No fall-back to plain text: the login would show the password.
      NoteReplyFailure(FailureKind::kTls);
      ZEL_LOG(InetPop3, "STLS コマンドエラー %s%s", replyLine, TimeoutNote());
      return kTlsNotOffered;
    }
    const int started = StartTls();
    if (started != 1) return ReportTlsFailure(started, host);
  }
  if (authMode_ != kPopAuthClassic) return Authenticate(host, user, password);
  if (apop != 0) return LoginApop(stamped, user, password);
  if (std::strlen(Text(password)) + sizeof("PASS ") > kCommandSize) {
    // A password too long for the PASS line goes by AUTH PLAIN, whose
    // response line may be longer; never cut, never sent as two lines.
    if (Capabilities().plain) return Authenticate(host, user, password);
    ZEL_LOG(InetPop3, "パスワードが長すぎるため PASS で送れない (AUTH PLAIN もない) [%s]", Text(host));
    NoteFailure(FailureKind::kSetting, "パスワードが長すぎるため PASS で送れない (AUTH PLAIN もない) [%s]",
                Text(host));
    return -201;
  }
  if (SendCommand("USER %s", Text(user)) == 0 || RecvLine() == 0 ||
      replyLine[0] != '+') {
    NoteReplyFailure(LoginRefusal(replyLine));
    ZEL_LOG(InetPop3, "USER %s コマンドエラー [%s]%s%s", Text(user), Text(host), ReplyNote(),
            TimeoutNote());
    return -201;
  }
  if (SendCommand("PASS %s", Text(password)) == 0 || RecvLine() == 0 ||
      replyLine[0] != '+') {
    // The log outlives the session and others can read it: no password.
    NoteReplyFailure(LoginRefusal(replyLine));
    ZEL_LOG(InetPop3, "PASS ******** コマンドエラー [%s]%s%s", Text(host), ReplyNote(), TimeoutNote());
    return -201;
  }
  return 1;
}

int InetPop3::Authenticate(const char* host, const char* user, const char* secret) {
  SaslMechanism mechanism = SaslMechanism::kPlain;
  if (authMode_ == kPopAuthToken) {
    const SaslMechanisms offered = Capabilities();
    mechanism = !offered.xoauth2 && offered.oauthBearer ? SaslMechanism::kOauthBearer
                                                        : SaslMechanism::kXoauth2;
  }
  Pop3Sasl channel(*this);
  std::string reason;  // what the server said about a refused token
  switch (SaslAuthenticate(channel, mechanism, user, secret, ServerName(), Port(), &reason)) {
    case SaslOutcome::kAccepted:
      return 1;
    case SaslOutcome::kUnusable:
      ZEL_LOG(InetPop3, "AUTH %s で送れない文字がユーザ名かパスワードにある [%s]", SaslName(mechanism), Text(host));
      NoteFailure(FailureKind::kSetting, "AUTH %s で送れない文字がユーザ名かパスワードにある [%s]",
                  SaslName(mechanism), Text(host));
      return kAuthRefused;
    case SaslOutcome::kRefused:
      break;
  }
  NoteReplyFailure(LoginRefusal(replyLine));
  if (!reason.empty()) NoteFailure(Failure().kind, "%s %s", Failure().text, reason.c_str());
  // The server's reply and reason only: what was sent holds the secret.
  ZEL_LOG(InetPop3, "AUTH %s コマンドエラー [%s]%s%s%s%s", SaslName(mechanism), Text(host), ReplyNote(),
          reason.empty() ? "" : " ", reason.c_str(), TimeoutNote());
  return kAuthRefused;
}

SaslMechanisms InetPop3::Capabilities() {
  SaslMechanisms offered;
  if (SendLine("CAPA") == 0 || RecvLine() == 0 || replyLine[0] != '+') return offered;
  // Capability lines until "."; the SASL line lists the mechanisms.
  while (RecvLine() != 0 && std::strcmp(replyLine, ".") != 0) {
    if (startsWithNoCase(replyLine, "SASL ")) NoteSaslMechanisms(replyLine + 5, offered);
  }
  return offered;
}

int InetPop3::ReportTlsFailure(int channelResult, const char* host) {
  const TlsFailure failure = DescribeTlsFailure(channelResult);
  ZEL_LOG(InetPop3, failure.logFormat, Text(host), TlsDetail(), TimeoutNote());
  return failure.code;
}

int InetPop3::LoginApop(const char* greeting, const char* user, const char* password) {
  // The last <...> of the greeting is the timestamp.
  const char* open = std::strrchr(greeting, '<');
  const char* close = open != nullptr ? std::strrchr(open, '>') : nullptr;
  if (close == nullptr) {
    NoteFailure(FailureKind::kSetting, "APOPに対応していないサーバです [%s]", Host());
    ZEL_LOG(InetPop3, "APOPに対応していないサーバです");
    return -213;
  }
  Md5 md5;
  md5.update(open, static_cast<std::size_t>(close - open) + 1);
  md5.update(Text(password), std::strlen(Text(password)));
  unsigned char digest[kMd5DigestSize];
  md5.finish(digest);
  char hex[2 * kMd5DigestSize + 1];
  static const char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < kMd5DigestSize; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
  hex[2 * kMd5DigestSize] = '\0';
  if (SendCommand("APOP %s %s", Text(user), hex) == 0 || RecvLine() == 0 ||
      replyLine[0] != '+') {
    NoteReplyFailure(LoginRefusal(replyLine));
    ZEL_LOG(InetPop3, "APOP コマンドエラー%s%s", ReplyNote(), TimeoutNote());
    return -214;
  }
  return 1;
}

const MessageEntry* InetPop3::CurrentEntry() const {
  if (currentIndex_ >= listing_.Size()) return nullptr;
  current_.number = listing_.Number(currentIndex_);
  current_.uidl = listing_.Uidl(currentIndex_);
  current_.octets = listing_.Octets(currentIndex_);
  return &current_;
}

void InetPop3::DiscardListing() {
  listing_.Clear();
  currentIndex_ = 0;
  retrAhead_.clear();
}

void InetPop3::DiscardListingIfOwner() {
  if (owner_.load() == std::this_thread::get_id()) DiscardListing();
}

int InetPop3::Quit() {
  DiscardListingIfOwner();
  return InetSocket::Quit();
}

int InetPop3::Close() {
  DiscardListingIfOwner();
  return InetSocket::Close();
}

int InetPop3::NextMessage() {
  if (!IsConnected()) DiscardListing();  // its connection was cancelled
  if (!listing_.Empty()) {
    ++currentIndex_;
    if (currentIndex_ >= listing_.Size()) {
      DiscardListing();
      return 0;
    }
    return listing_.Number(currentIndex_);
  }
  return FetchListing();
}

int InetPop3::FetchListing() {
  DiscardListing();
  const int n = Stat();
  if (n < 0) return -203;
  if (n == 0) {
    totalCount = 0;
    retrievedCount = 0;
    return 0;
  }
  if (n > kMaxListing) {
    ZEL_LOG(InetPop3, "メッセージ数 %d が上限 %d を超えている", n, kMaxListing);
    return -204;
  }
  if (SendLine("LIST") == 0 || RecvLine() == 0 || replyLine[0] != '+') {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetPop3, "LIST コマンドで失敗 %s%s", replyLine, TimeoutNote());
    return -204;
  }
  listing_.Reserve(static_cast<std::size_t>(n));
  int read = 0;
  for (; read < n; ++read) {
    if (RecvLine() == 0) {
      NoteReplyFailure(FailureKind::kServer);
      // Entries of a cut listing are dropped: the next call lists afresh.
      DiscardListing();
      // A cut listing is logged only when it timed out.
      if (TimedOut()) ZEL_LOG(InetPop3, "LIST コマンドで失敗 %s", TimeoutNote());
      return -204;
    }
    const int number = ListingNumber(replyLine);
    if (number == 0) break;
    listing_.AddNumber(number, std::strtoull(SecondField(replyLine), nullptr, 10));
  }
  if (read == n) RecvLine();  // the end line "."
  currentIndex_ = 0;

  if (SendLine("UIDL") == 0 || RecvLine() == 0) {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetPop3, "UIDL コマンドで失敗 %s%s", replyLine, TimeoutNote());
    return -208;
  }
  if (replyLine[0] == '+') {
    int line = 0;
    for (; line < n; ++line) {
      if (RecvLine() == 0) {
        NoteReplyFailure(FailureKind::kServer);
        currentIndex_ = static_cast<std::size_t>(line);
        if (TimedOut()) ZEL_LOG(InetPop3, "UIDL コマンドで失敗 %s", TimeoutNote());
        return -208;
      }
      if (ListingNumber(replyLine) == 0) break;
      const char* uid = SecondField(replyLine);
      const std::string_view id(uid, std::strcspn(uid, " "));
      listing_.AddUidl(id.substr(0, SjisPrefixLength(id, kUidlSize - 1)));
    }
    if (line == n) RecvLine();  // the end line "."
  }
  totalCount = n;
  retrievedCount = 0;
  currentIndex_ = 0;
  return listing_.Empty() ? 0 : listing_.Number(0);
}

void InetPop3::CaptureHeader(const char* line, std::size_t length) {
  static constexpr std::string_view kMessageId = "Message-Id:";
  static constexpr std::string_view kSubject = "Subject:";
  static constexpr std::string_view kFrom = "From:";
  // A value stops at a NUL byte: the captured values are texts.
  auto value = [&](std::size_t skip) {
    const char* start = line + skip;
    const void* nul = std::memchr(start, '\0', length - skip);
    return std::string_view(start, nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - start)
                                                  : length - skip);
  };
  auto capture = [&](char (&field)[kCapturedValueSize], std::size_t skip) { CopyBounded(field, value(skip)); };
  if (length > 0 && (line[0] == ' ' || line[0] == '\t')) {
    // A continuation line: unfolded onto its field, as far as it fits.
    if (continued_ != nullptr) {
      const std::size_t used = std::strlen(continued_);
      CopyBounded(continued_ + used, kCapturedValueSize - used, value(0));
    }
    return;
  }
  continued_ = nullptr;
  if (HasHeaderName(line, length, kMessageId)) {
    capture(messageId, kMessageId.size());
  } else if (HasHeaderName(line, length, kSubject)) {
    capture(subject, kSubject.size());
    continued_ = subject;
  } else if (HasHeaderName(line, length, kFrom)) {
    capture(from, kFrom.size());
    continued_ = from;
  }
}

void InetPop3::ReportProgress() {
  ++retrievedCount;
  if (progressWindow == 0) return;
  RecvProgress record;
  FillRecvProgress(record, totalCount, retrievedCount, subject, from, progressDecoding);
  SendProgress(progressWindow, record);
}

int InetPop3::Retr(int number, const char* path) {
  std::FILE* file = path != nullptr ? OpenHostFile(path, "wb", false) : nullptr;
  if (file == nullptr) {
    ZEL_LOG(InetPop3, "受信ファイルオープン失敗 %s", Text(path));
    return -210;
  }
  // Retr below gathers lines and writes whole blocks, so the stream needs
  // no buffer of its own.
  std::setvbuf(file, nullptr, _IONBF, 0);
  class FileOut final : public LineSink {
   public:
    explicit FileOut(std::FILE* f) : file(f) {}
    bool write(std::string_view bytes) override {
      return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::FILE* file;
  } out(file);
  const int result = Retr(number, out, path);
  // A file that could not be written completely is a failed retrieval; on
  // any failure it keeps what came.
  if (std::fclose(file) != 0 && result == 1) {
    ZEL_LOG(InetPop3, "受信ファイル書き込み失敗 %s", path);
    return -210;
  }
  return result;
}

int InetPop3::Retr(int number, LineSink& sink, const char* name) {
  const bool sentAhead = !retrAhead_.empty() && retrAhead_.front() == number;
  if (sentAhead) retrAhead_.pop_front();
  if ((!sentAhead && SendCommand("RETR %d", number) == 0) || RecvLine() == 0 ||
      replyLine[0] != '+') {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetPop3, "RETR %d コマンドエラー%s%s", number, ReplyNote(), TimeoutNote());
    return -205;
  }
  messageId[0] = subject[0] = from[0] = '\0';
  continued_ = nullptr;
  char out[kRetrWriteSize];
  std::size_t used = 0;
  bool written = true;
  // Hands the gathered bytes on; after a failed write the rest is read and
  // dropped.
  auto hand = [&] {
    if (written && used > 0) written = sink.write(std::string_view(out, used));
    used = 0;
  };
  // Makes room for one more piece and its CR LF.
  auto room = [&] {
    if (kRetrWriteSize - used < kReplyLineSize + 2) hand();
  };
  bool inHeader = true;
  bool cut = false;
  // The message's size as LIST counts it, against the limit.
  std::uint64_t size = 0;
  const auto tooLarge = [&](std::size_t more) {
    size += more;
    return messageLimit_ != 0 && size > messageLimit_;
  };
  const auto refuse = [&] {
    hand();  // the caller drops what came
    const int result = RefuseTooLarge(std::to_string(number));
    ZEL_LOG(InetPop3, "%s", Failure().text);
    return result;
  };
  for (;;) {
    // The first piece of a physical line decides "." and the header fields.
    room();
    char* first = out + used;
    LineState state;
    std::size_t n = RecvLinePiece(first, kReplyLineSize, &state);
    if (state == kLineEnded && n == 1 && first[0] == '.') break;
    if (inHeader && state == kLineEnded && n == 0) {
      if (tooLarge(2)) return refuse();
      out[used++] = '\r';
      out[used++] = '\n';
      inHeader = false;
      ReportProgress();
      continue;
    }
    if (tooLarge(n + 2 - (n > 0 && first[0] == '.' ? 1 : 0))) return refuse();
    if (inHeader) CaptureHeader(first, n);
    used += n;
    while (state == kLinePiece) {
      room();
      const std::size_t more = RecvLinePiece(out + used, kReplyLineSize, &state);
      if (tooLarge(more)) return refuse();
      used += more;
    }
    if (state == kLineCut) {
      cut = true;
      break;
    }
    out[used++] = '\r';
    out[used++] = '\n';
  }
  hand();  // what came, also of a message cut short
  if (cut) {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetPop3, "RETR %d コマンド応答エラー%s", number, TimeoutNote());
    return -211;
  }
  if (!written) {
    ZEL_LOG(InetPop3, "受信ファイル書き込み失敗 %s", Text(name));
    return -210;
  }
  return 1;
}

int InetPop3::RefuseTooLarge(const std::string& what) {
  // Nothing more of it is read, and no QUIT: the server keeps every
  // message, those marked for deletion in this session too.
  NoteFailure(FailureKind::kServer, "メッセージ %s がサイズ上限 %llu バイトを超えたため接続を切った [%s]",
              what.c_str(), static_cast<unsigned long long>(messageLimit_), Host());
  Close();
  return kMessageTooLarge;
}

int InetPop3::SendRetrAhead(int number) {
  if (SendCommand("RETR %d", number) == 0) return 0;
  retrAhead_.push_back(number);
  return 1;
}

int InetPop3::Top(int number, int lines, std::string* header) {
  if (header != nullptr) header->clear();
  if (SendCommand("TOP %d %d", number, lines) == 0 || RecvLine() == 0 ||
      replyLine[0] != '+') {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetPop3, "TOP %d %d コマンドエラー%s%s", number, lines, ReplyNote(), TimeoutNote());
    return -206;
  }
  messageId[0] = subject[0] = from[0] = '\0';
  continued_ = nullptr;
  bool inHeader = true;
  char piece[kReplyLineSize];
  // Keeps a piece of a header line, dot-unstuffed, within kHeaderBlockMax.
  auto keep = [&](const char* p, std::size_t n) {
    if (header != nullptr && inHeader && header->size() + n < kHeaderBlockMax) header->append(p, n);
  };
  for (;;) {
    LineState state;
    std::size_t n = RecvLinePiece(piece, sizeof piece, &state);
    if (state == kLineEnded && n == 1 && piece[0] == '.') return 1;
    if (state == kLineEnded && n == 0) inHeader = false;
    if (inHeader) CaptureHeader(piece, n);
    const std::size_t stuffed = n > 0 && piece[0] == '.' ? 1 : 0;
    keep(piece + stuffed, n - stuffed);
    while (state == kLinePiece) {
      n = RecvLinePiece(piece, sizeof piece, &state);
      keep(piece, n);
    }
    keep("\n", 1);
    if (state == kLineCut) {
      NoteReplyFailure(FailureKind::kServer);
      ZEL_LOG(InetPop3, "TOP %d %d コマンドエラー%s", number, lines, TimeoutNote());
      return -206;
    }
  }
}

int InetPop3::Dele(int number) {
  if (SendCommand("DELE %d", number) == 0 || RecvLine() == 0 ||
      replyLine[0] != '+') {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetPop3, "DELE %d コマンド応答エラー%s%s", number, ReplyNote(), TimeoutNote());
    return -211;
  }
  return 1;
}

int InetPop3::Stat() {
  if (SendLine("STAT") == 0 || RecvLine() == 0 || replyLine[0] != '+') {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetPop3, "STAT コマンドでエラー %s%s", replyLine, TimeoutNote());
    return -203;
  }
  // "+OK n size": the count starts at the fifth character. A count beyond
  // the int range is the largest int, not a wrapped or empty count.
  if (std::strlen(replyLine) < 4) return 0;
  const long long count = std::strtoll(replyLine + 4, nullptr, 10);
  if (count <= 0) return 0;
  return count > INT32_MAX ? INT32_MAX : static_cast<int>(count);
}

}  // namespace zel
