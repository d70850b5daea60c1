// Delivery of a retrieved message where Linux mail readers look: a Maildir,
// an mbox file (mboxrd) or a delivery agent's standard input (options
// MAILDIR, MBOX and MDA). The message goes as the server sent it, its lines
// ending LF and the POP3 dot-stuffing undone.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "api/inet_mail.h"
#include "codec/header_words.h"
#include "codec/line_stream.h"
#include "codec/recipient_list.h"
#include "platform/ascii_case.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/file_ops.h"
#include "platform/host_name.h"
#include "platform/log.h"
#include "platform/mail_spool.h"
#include "platform/path.h"
#include "platform/system_error.h"
#include "platform/text_file.h"
#include "store/flush_batch.h"

namespace zel {

namespace {

// Bytes gathered before each write to the target.
constexpr std::size_t kDeliveryChunk = 64 * 1024;
// Opens of an mbox that another program replaced meanwhile, before giving up.
constexpr int kMboxAttempts = 4;
// Unique names tried in a Maildir's tmp/ before giving up.
constexpr int kMaildirAttempts = 8;

// The sender of the mbox "From " line when the header names none.
constexpr std::string_view kUnknownSender = "MAILER-DAEMON";

// The lines of a retrieved message as delivered: CR LF read as LF (as the
// message's source reads it), one leading "." of a dot-stuffed line
// removed.
class DeliveredLines {
 public:
  explicit DeliveredLines(LineSource& raw) : raw_(raw) {}
  // The next whole line, however long (LF kept); false at the end or on a
  // read error.
  bool Next(std::string& line) {
    line.clear();
    char piece[4096];
    while (std::size_t n = raw_.readLine(piece, sizeof piece)) {
      line.append(piece, n);
      if (piece[n - 1] == '\n') break;
    }
    if (line.empty()) return false;
    if (line[0] == '.') line.erase(0, 1);
    return true;
  }
  bool Failed() const { return raw_.failed(); }

 private:
  LineSource& raw_;
};

// The address of a header field's value: the text in its angle brackets,
// else the first address of its decoded value; "" when that is no address
// (nothing, or an encoded word left undecoded).
std::string FirstAddress(std::string_view value) {
  std::string all = NormaliseRecipients(value);
  if (value.find('<') == std::string_view::npos) all = NormaliseRecipients(decodeHeaderWords(value));
  std::string address = all.substr(0, all.find(','));
  if (address.find("=?") != std::string::npos) address.clear();
  return address;
}

// The envelope sender of the mbox "From " line: the address of
// Return-Path, else that of From (each field unfolded), else
// kUnknownSender. `header` holds the header lines (LF-ended).
std::string EnvelopeSender(std::string_view header) {
  std::string returnPath, from, field;
  const auto take = [&] {
    if (returnPath.empty() && startsWithNoCase(field, "Return-Path:")) {
      returnPath = FirstAddress(std::string_view(field).substr(12));
    } else if (from.empty() && startsWithNoCase(field, "From:")) {
      from = FirstAddress(std::string_view(field).substr(5));
    }
    field.clear();
  };
  for (std::size_t at = 0; at < header.size();) {
    std::size_t end = header.find('\n', at);
    if (end == std::string_view::npos) end = header.size();
    std::string_view line = header.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || (line[0] != ' ' && line[0] != '\t')) take();
    field += line;
  }
  take();
  std::string sender = !returnPath.empty() ? returnPath : from;
  // One word on the line: blanks and control bytes cannot be in it.
  for (char& c : sender) {
    if (static_cast<unsigned char>(c) <= ' ') c = '_';
  }
  return sender.empty() ? std::string(kUnknownSender) : sender;
}

// "From sender Wed Dec  9 19:08:23 2026" in local time, with its LF.
std::string EnvelopeLine(const std::string& sender) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t{};
  LocalTime(CalendarTime(), t);
  char date[40];
  std::snprintf(date, sizeof date, "%s %s %2d %02d:%02d:%02d %d", kDays[t.tm_wday % 7],
                kMonths[t.tm_mon % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
  return "From " + sender + " " + date + "\n";
}

// True for a line that mboxrd quotes: ">"s, then "From ".
bool NeedsQuote(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] == '>') ++i;
  return line.substr(i, 5) == "From ";
}

// A unique file name of a Maildir: "<time>.P<pid>Q<n>.<host>", the host
// with "/" and ":" written as "\057" and "\072".
std::string MaildirName() {
  static std::atomic<unsigned> sequence{0};
  char host[kHostNameSize] = {};
  if (!LocalHostName(host, sizeof host)) std::snprintf(host, sizeof host, "localhost");
  std::string safeHost;
  for (const char* p = host; *p != '\0'; ++p) {
    if (*p == '/') safeHost += "\\057";
    else if (*p == ':') safeHost += "\\072";
    else safeHost += *p;
  }
  char name[64];
  std::snprintf(name, sizeof name, "%lld.P%luQ%u.", static_cast<long long>(CalendarTime()),
                ProcessId(), ++sequence);
  return name + safeHost;
}

// Writes `data` to `file`; false when that fails.
bool Put(std::FILE* file, std::string_view data) {
  return data.empty() || std::fwrite(data.data(), 1, data.size(), file) == data.size();
}

}  // namespace

bool InetMail::DeliversElsewhere() const { return deliveryKind != DeliveryKind::kDisplay; }

bool InetMail::WritesDisplayFiles() const { return !DeliversElsewhere() || keepDisplay == 1; }

int InetMail::SetDelivery(DeliveryKind kind, const char* target) {
  if (target == nullptr) return 0;
  const std::size_t length = std::char_traits<char>::length(target);
  if (length >= kDeliveryTargetSize) {
    ZEL_LOG(InetMail, "配送先が長すぎる");
    return 0;
  }
  // One delivery at a time: an empty target ends this one.
  if (length == 0) {
    if (deliveryKind == kind) deliveryKind = DeliveryKind::kDisplay;
    return 0;
  }
  deliveryKind = kind;
  deliveryTarget.assign(target, length);
  return static_cast<int>(length);
}

// DeliverRetrieved - delivers the retrieved message read from `raw` (lines
// as the server sent them, dot-stuffed, read with CR LF as LF) to the
// session's delivery; a read error of `raw` fails it. What it wrote goes
// into `batch`, to be flushed before the run records the message.
// Maildir: written in tmp/ under a unique name (mode 0600); the batch's
// flush moves it into new/ (never over another file). The Maildir and its
// tmp/, new/, cur/ are made when missing and must be real folders of the
// user (no link). mbox: appended under its locks (platform SpoolLock) with
// the "From " line and mboxrd quoting, an empty line after it; a failed
// append is cut off again; a new mbox is made with mode 0600, and a link or
// another user's file is refused. MDA: the command gets the message on its
// standard input; exit status 0 counts as delivered, and nothing is
// flushed for it.
// Returns 1 delivered; 0 failed with error -1105 naming the target.
int InetMail::DeliverRetrieved(LineSource& raw, FlushBatch& batch) {
  DeliveredLines lines(raw);
  const char* target = deliveryTarget.c_str();
  std::string chunk;
  std::string line;
  switch (deliveryKind) {
    case DeliveryKind::kDisplay:
      return 1;
    case DeliveryKind::kMaildir: {
      MaildirFolders& maildir = batch.Maildir();
      std::string folder;
      std::vector<std::string> changed;
      const MaildirFolders::Status status =
          maildir.IsOpen() ? MaildirFolders::Status::kOpen : maildir.Open(target, folder, changed);
      for (const std::string& each : changed) batch.AddFolder(each);
      if (status == MaildirFolders::Status::kRefused) {
        ZEL_LOG(InetMail, "Maildirのフォルダがリンクか他のユーザのもの [%s]", folder.c_str());
        SetError(-1105, "Maildirのフォルダがリンクか他のユーザのもの [%s]", folder.c_str());
        return 0;
      }
      if (status != MaildirFolders::Status::kOpen) {
        ZEL_LOG(InetMail, "Maildirを作成できない [%s]", target);
        SetError(-1105, "Maildirを作成できない [%s]", target);
        return 0;
      }
      std::string name;
      std::FILE* file = nullptr;
      for (int attempt = 0; file == nullptr && attempt < kMaildirAttempts; ++attempt) {
        name = MaildirName();
        file = maildir.Create(name);
      }
      bool ok = file != nullptr;
      while (ok && lines.Next(line)) {
        chunk += line;
        if (chunk.size() >= kDeliveryChunk) {
          ok = Put(file, chunk);
          chunk.clear();
        }
      }
      ok = ok && !lines.Failed() && Put(file, chunk);
      if (file != nullptr && std::fclose(file) != 0) ok = false;
      if (!ok) {
        ZEL_LOG(InetMail, "Maildirへの保存に失敗 [%s]", target);
        SetError(-1105, "Maildirへの保存に失敗 [%s]", target);
        if (file != nullptr) maildir.Discard(name);
        return 0;
      }
      batch.AddMaildirFile(name);
      return 1;
    }
    case DeliveryKind::kMbox: {
      // The header first: the "From " line names its sender.
      std::string header;
      while (lines.Next(line)) {
        header += line;
        if (line == "\n") break;
      }
      chunk = EnvelopeLine(EnvelopeSender(header));
      std::FILE* file = nullptr;
      SpoolLock lock;
      SpoolLock::Status status = SpoolLock::Status::kFailed;
      // Made by this message, the mbox is a new entry of its folder.
      const bool existed = PathExists(target);
      for (int attempt = 0; attempt < kMboxAttempts; ++attempt) {
        file = OpenHostFile(target, "ab", true);
        if (file == nullptr) break;
        status = lock.Take(file, target);
        if (status != SpoolLock::Status::kReplaced) break;
        std::fclose(file);
        file = nullptr;
      }
      if (file == nullptr && (LastSystemError() == ELOOP || LastSystemError() == EPERM)) {
        ZEL_LOG(InetMail, "mboxがリンクか他のユーザのファイル [%s]", target);
        SetError(-1105, "mboxがリンクか他のユーザのファイル [%s]", target);
        return 0;
      }
      if (file == nullptr || status != SpoolLock::Status::kLocked) {
        ZEL_LOG(InetMail, "mboxのオープンまたはロックに失敗 [%s]", target);
        SetError(-1105, "mboxのオープンまたはロックに失敗 [%s]", target);
        if (file != nullptr) std::fclose(file);
        return 0;
      }
      // Unbuffered: every chunk is in the file before the locks go, and a
      // failed append is cut off while they are held.
      std::setvbuf(file, nullptr, _IONBF, 0);
      const std::int64_t size = HostFileSize(file);
      bool ok = size >= 0;
      bool ended = true;  // the last line written ends with LF
      const auto add = [&](std::string_view text) {
        if (NeedsQuote(text)) chunk += '>';
        chunk += text;
        ended = !text.empty() && text.back() == '\n';
        if (chunk.size() >= kDeliveryChunk) {
          ok = ok && Put(file, chunk);
          chunk.clear();
        }
      };
      for (std::size_t at = 0; at < header.size();) {
        const std::size_t end = header.find('\n', at);
        const std::size_t next = end == std::string::npos ? header.size() : end + 1;
        add(std::string_view(header).substr(at, next - at));
        at = next;
      }
      while (ok && lines.Next(line)) add(line);
      // An empty line parts this message from the next "From " line.
      chunk += ended ? "\n" : "\n\n";
      ok = ok && !lines.Failed() && Put(file, chunk);
      if (!ok && size >= 0) CutHostFile(file, size);
      lock.Release();
      if (std::fclose(file) != 0) ok = false;
      if (!ok) {
        ZEL_LOG(InetMail, "mboxへの追記に失敗 [%s]", target);
        SetError(-1105, "mboxへの追記に失敗 [%s]", target);
        return 0;
      }
      batch.AddFile(target, !existed);
      return 1;
    }
    case DeliveryKind::kMda: {
      CommandInput command;
      bool ok = command.Start(target, timeoutSeconds);
      while (ok && lines.Next(line)) {
        chunk += line;
        if (chunk.size() >= kDeliveryChunk) {
          ok = command.Write(chunk.data(), chunk.size());
          chunk.clear();
        }
      }
      ok = ok && !lines.Failed() && command.Write(chunk.data(), chunk.size());
      const int status = command.Finish();
      // The command's own failure is no system error of ours.
      if (ok) SetLastSystemError(0);
      if (status == kCommandTimedOut) {
        // Ended at TIMEOUT with what it started: the message stays on the
        // server for a later run.
        ZEL_LOG(InetMail, "MDAが%d秒で終わらない [%s]", timeoutSeconds, target);
        errorDetail.Set(FailureKind::kTimedOut, "MDAが%d秒で終わらない [%s]", timeoutSeconds, target);
        SetError(-1105, "MDAが%d秒で終わらない [%s]", timeoutSeconds, target);
        return 0;
      }
      if (!ok || status != 0) {
        ZEL_LOG(InetMail, "MDAへの受け渡しに失敗 (終了コード %d) [%s]", status, target);
        SetError(-1105, "MDAへの受け渡しに失敗 (終了コード %d) [%s]", status, target);
        return 0;
      }
      return 1;
    }
  }
  return 0;
}

}  // namespace zel
