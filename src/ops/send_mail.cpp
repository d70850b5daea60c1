// The send operation: a send file becomes a message in a temporary file,
// which is delivered over SMTP (after a POP3 login for POP before SMTP) or
// copied to a dummy file. The temporary file never outlives the call.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/inet_mail.h"
#include "codec/message_builder.h"
#include "codec/recipient_list.h"
#include "ops/temp_file_guard.h"
#include "platform/clock.h"
#include "platform/file_ops.h"
#include "platform/log.h"
#include "platform/sjis_text.h"
#include "platform/temp_file.h"
#include "platform/text_file.h"
#include "store/system_clock.h"
#include "store/text_file_stream.h"

namespace zel {
namespace {

// An attachment opened for reading bytes.
class AttachmentFile : public ByteSource {
 public:
  std::size_t read(void* buffer, std::size_t n) override { return file.Read(buffer, n); }
  bool failed() const override { return file.Failed(); }
  TextFile file;
};

class AttachmentFiles : public AttachmentOpener {
 public:
  std::unique_ptr<ByteSource> open(std::string_view path) override {
    auto attachment = std::make_unique<AttachmentFile>();
    if (!attachment->file.Open(path, TextFile::Mode::kReadBinary)) return nullptr;
    return attachment;
  }
};

// Writes the message in text form (each LF stored as CR LF) to a file opened
// for bytes, through one buffer: a base64 attachment is a great many short
// lines, and one write per line would cost more than encoding them.
class MessageFileSink : public RewindableSink {
 public:
  MessageFileSink(TextFile& file, const char* path) : file_(file), path_(path) {
    buffer_.reserve(kFlushSize + 4096);
  }

  // Empties the file (opened anew as the library's own file, see SendMail).
  bool rewind() override {
    buffer_.clear();
    file_.Close();
    return file_.Open(path_, TextFile::Mode::kWriteBinary, true);
  }

  bool write(std::string_view text) override {
    std::size_t start = 0;
    while (start < text.size()) {
      const void* found = std::memchr(text.data() + start, '\n', text.size() - start);
      const std::size_t end =
          found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                           : text.size();
      buffer_.append(text.data() + start, end - start);
      if (found == nullptr) break;
      buffer_.append("\r\n");
      start = end + 1;
      if (buffer_.size() >= kFlushSize && !flush()) return false;
    }
    return buffer_.size() < kFlushSize || flush();
  }

  // Writes what is buffered. Returns false when the write fails.
  bool flush() {
    if (buffer_.empty()) return true;
    const bool ok = file_.Write(buffer_);
    buffer_.clear();
    return ok;
  }

 private:
  static constexpr std::size_t kFlushSize = 256 * 1024;  // bytes per file write
  TextFile& file_;
  const char* path_;
  std::string buffer_;
};

}  // namespace

// OpenSendTemp - names the temporary file a message is composed in and
// creates it exclusively. False with -1101 set when either fails.
bool InetMail::OpenSendTemp(char (&tempPath)[kPathSize], TextFile& temp) {
  if (MakeTempName(tempPath) == 1 && temp.Open(tempPath, TextFile::Mode::kWriteBinary, true)) return true;
  ZEL_LOG(InetMail, "送信用テンポラリファイルが開けない [%s]", tempPath);
  SetError(-1101, "送信用テンポラリファイルが開けない [%s]", tempPath);
  return false;
}

// SendMail - builds the message of `mailfile` and sends it or, with
// `dummyfile`, copies it there.
//   mailfile    the send file (Shift-JIS text)
//   attachfile  attachment paths separated by TAB or LF; nullptr or empty
//               for none (the send file may add "X-AttachmentFile:" lines)
//   dummyfile   nullptr to send; otherwise the file that receives the
//               message instead (nothing goes out on the network)
// Returns 1 sent (or written), 0 failed with the error state set:
//   -1100 send file cannot be opened or read, -1101 temporary or dummy file,
//   -1102 header, -1103 body, end line or close, -1104 attachment
//   cannot be opened, -1105 attachment cannot be read or written,
//   -220 POP before SMTP login, -300 SMTP connection or greeting,
//   -302 -303 -304 -305 -311 -312 and -1 from the SMTP dialogue; with the
//   options TLS and SMTPAUTH -400 to -405 (encryption and authentication,
//   of the POP3 or the SMTP server) instead of -220 or -300.
int InetMail::SendMail(const char* mailfile, const char* attachfile, const char* dummyfile) {
  if (RefuseWhileReceiving("SendMail")) return 0;
  ClearError();
  boundary[0] = '\0';
  mailfile = Text(mailfile);
  if (sendFinished) return SendFinishedMessage(mailfile, dummyfile);

  MessageBuilder builder(systemClock());
  builder.identity = {hostName, domain, displayName, mailAddress};
  builder.stamp = {TickCount(), ProcessId()};
  builder.charset = messageCharset;
  builder.sendFileCharset = sendFileCharset;
  if (attachfile != nullptr) builder.attachmentList = attachfile;

  TextFile sendFile;
  if (!sendFile.Open(mailfile, TextFile::Mode::kRead)) {
    ZEL_LOG(InetMail, "送信ファイルが開けない [%s]", mailfile);
    SetError(-1100, "送信ファイルが開けない [%s]", mailfile);
    return 0;
  }

  char tempPath[kPathSize] = {};
  TempFileGuard guard(tempPath);
  TextFile temp;
  if (!OpenSendTemp(tempPath, temp)) return 0;

  TextFileSource source(sendFile);
  MessageFileSink sink(temp, tempPath);
  AttachmentFiles attachments;
  // The sink is flushed at the end of each step: a write that fails (a full
  // disk) is the error of the step that wrote it.
  const ComposeResult composed =
      composeMessage(builder, source, sink, attachments, [&sink] { return sink.flush(); });
  CopyBounded(boundary, builder.boundary);
  // A send file that fails while read (a folder given as the send file) is
  // not sent cut short.
  if (composed.failure == ComposeFailure::kNone && sendFile.Failed()) {
    ZEL_LOG(InetMail, "送信ファイルが開けない [%s]", mailfile);
    SetError(-1100, "送信ファイルが開けない [%s]", mailfile);
    return 0;
  }
  // A line of a UTF-8 send file that is no UTF-8 is named before the file
  // (a long path cannot push it out of the error text).
  char invalid[64] = "";
  if (composed.invalidLine > 0) {
    std::snprintf(invalid, sizeof invalid, ": %lu行目が UTF-8 ではありません",
                  static_cast<unsigned long>(composed.invalidLine));
  }
  switch (composed.failure) {
    case ComposeFailure::kNone:
      break;
    case ComposeFailure::kSendFile:
      ZEL_LOG(InetMail, "送信ファイルが開けない [%s]", mailfile);
      SetError(-1100, "送信ファイルが開けない [%s]", mailfile);
      return 0;
    case ComposeFailure::kHeader:
      ZEL_LOG(InetMail, "ヘッダ部のエンコードに失敗%s [%s]", invalid, mailfile);
      SetError(-1102, "ヘッダ部のエンコードに失敗%s [%s]", invalid, mailfile);
      return 0;
    case ComposeFailure::kBody:
      ZEL_LOG(InetMail, "本文部のエンコードに失敗%s [%s]", invalid, mailfile);
      SetError(-1103, "本文部のエンコードに失敗%s [%s]", invalid, mailfile);
      return 0;
    case ComposeFailure::kAttachmentOpen:
      ZEL_LOG(InetMail, "添付ファイル[%s]がオープンできません", composed.path.c_str());
      SetError(-1104, "添付ファイル[%s]がオープンできません", composed.path.c_str());
      return 0;
    case ComposeFailure::kAttachment:
      ZEL_LOG(InetMail, "添付ファイル[%s]のエンコードに失敗", composed.path.c_str());
      SetError(-1105, "添付ファイル[%s]のエンコードに失敗", composed.path.c_str());
      return 0;
  }
  // The close belongs to the end line: a message cut short by a full disk
  // would leave the SMTP server waiting for its ".".
  if (!temp.Close()) {
    ZEL_LOG(InetMail, "本文部のエンコードに失敗 [%s]", mailfile);
    SetError(-1103, "本文部のエンコードに失敗 [%s]", mailfile);
    return 0;
  }
  sendFile.Close();

  return SendPrepared(tempPath, NormaliseRecipients(builder.recipients), dummyfile);
}

// SendPrepared - sends the message file `tempPath` (CR LF lines,
// dot-stuffed, with its end line) to `recipients` (bare addresses joined
// by ","), or moves it to `dummyfile` when given; the results of SendMail.
int InetMail::SendPrepared(const char* tempPath, const std::string& recipients, const char* dummyfile) {
  if (dummyfile != nullptr) {
    // Moved rather than copied (a large message costs nothing); the dummy
    // file gets the host's usual file mode, not the temporary file's.
    if (!MoveFileToHost(tempPath, dummyfile)) {
      ZEL_LOG(InetMail, "送信用テンポラリファイルが開けない [%s]", dummyfile);
      SetError(-1101, "送信用テンポラリファイルが開けない [%s]", dummyfile);
      return 0;
    }
    return 1;
  }

  // Each operation enables its own channels: a cancel of an earlier
  // receive-all must not keep failing every later send.
  Enable();
  smtp.Enable();
  if (popBeforeSmtp == 1) {
    const int login = Login(pop3Server, Pop3PortInUse(), userName, password, useApop);
    if (login != 1) {
      TakeFailure(*this);
      if (!ReportSecureFailure(login, pop3Server, true)) {
        SetError(-220, "POP Before SMTP:POP3認証で失敗");
        ZEL_LOG(InetMail, "POP Before SMTP:POP3認証で失敗");
      }
      Quit();
      return 0;
    }
    Quit();
  }

  const int opened = smtp.Open(smtpServer, SmtpPortInUse(), domain,
                               smtpAuth != 0 ? userName : nullptr, password);
  if (opened != 1) {
    TakeFailure(smtp);
    if (!ReportSecureFailure(opened, smtpServer, false)) {
      SetError(-300, "SMTP初期化でエラー発生 [%s]", smtpServer);
      ZEL_LOG(InetMail, "SMTP初期化でエラー発生 [%s]", smtpServer);
    }
    smtp.Quit();
    return 0;
  }
  std::vector<char> list(recipients.begin(), recipients.end());
  list.push_back('\0');
  const int result = smtp.Deliver(mailAddress, list.data(), tempPath);
  if (result == 1) {
    smtp.Quit();
    return 1;
  }
  TakeFailure(smtp);
  switch (result) {
    case -312:
      SetError(-312, "SMTP送信:ファイル送信エラー [%s]", tempPath);
      break;
    case -311:
      SetError(-311, "SMTP送信:送信ファイルオープンエラー [%s]", tempPath);
      break;
    case -305:
      SetError(-305, "SMTP送信:DATA コマンド応答エラー");
      break;
    case -304:
      SetError(-304, "SMTP送信:DATA コマンドエラー");
      break;
    case -303:
      SetError(-303, "SMTP送信:送信先メールアドレスを再確認してください [%s]",
               smtp.refusedRecipient.c_str());
      break;
    case -302:
      SetError(-302, "SMTP送信:自メールアドレスを再確認してください [%s]", mailAddress);
      break;
    default:
      SetError(-1, "SMTP送信:致命的エラー発生");
      break;
  }
  ZEL_LOG(InetMail, "SMTP送信でエラー発生 [%d]", result);
  smtp.Quit();
  return 0;
}

}  // namespace zel
