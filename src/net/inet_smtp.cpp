// InetSmtp: HELO, MAIL FROM, RCPT TO, DATA and the message file.
#include "net/inet_smtp.h"

#include <cstring>

#include "codec/sjis_text.h"
#include "platform/log.h"
#include "platform/text_file.h"

namespace zel {

namespace {
// Length of a reply code, and so the position of the continuation mark in a
// reply line ("250-...").
constexpr std::size_t kContinuationMark = 3;
}  // namespace

bool InetSmtp::RecvReply() {
  char code[kContinuationMark + 1] = {};
  bool sameCode = true;
  for (bool first = true;; first = false) {
    if (RecvLine() == 0) return false;
    // Every line of one reply carries the same code (RFC 5321 4.2.1); a
    // reply that changes it, "250-..." then "550 ...", is no answer.
    if (first) {
      std::strncpy(code, replyLine, kContinuationMark);
    } else if (std::strncmp(replyLine, code, kContinuationMark) != 0) {
      sameCode = false;
    }
    // A line shorter than four characters is a final line.
    if (std::strlen(replyLine) <= kContinuationMark ||
        replyLine[kContinuationMark] != '-') {
      return sameCode;
    }
  }
}

bool InetSmtp::Command(char success, const char* format, const char* arg) {
  const int sent = arg != nullptr ? SendCommand(format, arg) : SendLine(format);
  return sent != 0 && RecvReply() && replyLine[0] == success;
}

int InetSmtp::Open(const char* host, int port, const char* heloName) {
  switch (Connect(host, port)) {
    case 1:
      break;
    case -2:
      ZEL_LOG(InetSmtp, "ソケットの作成に失敗 [%s]", Text(host));
      return -101;
    case -3:
      ZEL_LOG(InetSmtp, "コネクトエラー発生 [%s]%s", Text(host), TimeoutNote());
      return -102;
    default:
      ZEL_LOG(InetSmtp, "ホスト名解決に失敗 [%s]", Text(host));
      return -100;
  }
  RecvReply();  // the greeting is not judged
  if (!Command('2', "HELO %s", Text(heloName))) {
    ZEL_LOG(InetSmtp, "HELO %s コマンドエラー%s", Text(heloName), TimeoutNote());
    return -301;
  }
  return 1;
}

int InetSmtp::Deliver(const char* sender, char* recipients,
                      const char* messagePath) {
  refusedRecipient.clear();
  if (!Command('2', "MAIL FROM:<%s>", Text(sender))) {
    ZEL_LOG(InetSmtp, "MAIL FROM:<%s> コマンドエラー%s", Text(sender), TimeoutNote());
    return -302;
  }
  if (recipients != nullptr) {
    // Split in place: every "," becomes a NUL; empty pieces are skipped.
    const std::size_t length = std::strlen(recipients);
    for (std::size_t i = 0; i < length; ++i) {
      if (recipients[i] == ',') recipients[i] = '\0';
    }
    for (std::size_t i = 0; i < length;) {
      const char* piece = recipients + i;
      const std::size_t pieceLength = std::strlen(piece);
      i += pieceLength + 1;
      if (pieceLength == 0) continue;
      if (!Command('2', "RCPT TO:<%s>", piece)) {
        ZEL_LOG(InetSmtp, "RCPT TO:<%s> コマンドエラー %s%s", piece, replyLine, TimeoutNote());
        refusedRecipient = piece;
        return -303;
      }
    }
  }
  if (!Command('3', "DATA", nullptr)) {
    ZEL_LOG(InetSmtp, "DATA コマンドエラー %s%s", replyLine, TimeoutNote());
    return -304;
  }
  std::FILE* file =
      messagePath != nullptr ? OpenHostFile(messagePath, "rb", false) : nullptr;
  if (file == nullptr) {
    ZEL_LOG(InetSmtp, "送信ファイルオープンエラー [%s]", Text(messagePath));
    return -311;
  }
  if (SendFileData(file) == 0) {
    ZEL_LOG(InetSmtp, "ファイル送信エラー [%s]%s", messagePath, TimeoutNote());
    std::fclose(file);
    return -312;
  }
  std::fclose(file);
  if (!RecvReply() || replyLine[0] != '2') {
    ZEL_LOG(InetSmtp, "DATA コマンド応答エラー %s%s", replyLine, TimeoutNote());
    return -305;
  }
  return 1;
}

}  // namespace zel
