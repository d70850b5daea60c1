// The run's file locks and the store step of a retrieved message.
#include "ops/receive_steps.h"

#include "api/inet_mail.h"
#include "codec/message_decoder.h"
#include "ops/receive_files.h"
#include "platform/file_lock.h"
#include "platform/file_ops.h"
#include "platform/log.h"
#include "platform/text_file.h"
#include "store/display_name.h"
#include "store/list_file.h"
#include "store/raw_message.h"
#include "store/record_file.h"
#include "store/text_file_stream.h"

namespace zel {

bool LockRunFile(InetMail& s, FileLock& lock, const char* path, const char* name) {
  switch (lock.Acquire(path)) {
    case FileLock::Status::kLocked:
      return true;
    case FileLock::Status::kBusy:
      ZEL_LOG(InetMail, "%sが他の受信処理で使用中 [%s]", name, path);
      s.SetError(-1104, "%sが他の受信処理で使用中 [%s]", name, path);
      return false;
    case FileLock::Status::kUnusable:
      break;
  }
  ZEL_LOG(InetMail, "%sのオープンに失敗 [%s]", name, path);
  s.SetError(-1104, "%sのオープンに失敗 [%s]", name, path);
  return false;
}


bool LockRunFiles(InetMail& s, ReceiveFiles& files, const char* listPath, bool listed, const char* seenPath) {
  if (listed && !LockRunFile(s, files.list, listPath, "リストファイル")) return false;
  const bool seenFile = seenPath != nullptr && seenPath[0] != '\0';
  return !seenFile || LockRunFile(s, files.seen, seenPath, "既読UIDLファイル");
}

bool StoreRetrieved(InetMail& s, RawMessage& raw, DisplayNameBlock& names, int wanted, RecordFile& list,
                    const char* folder, std::string& display, std::string& delivered) {
  display.clear();
  delivered.clear();
  // Delivery into a Maildir, an mbox or a command comes first; the display
  // file and list line follow only with KEEPDISPLAY.
  if (s.DeliversElsewhere()) {
    LineSource* message = raw.Read();
    if (message == nullptr) {
      const char* path = raw.Keep();
      ZEL_LOG(InetMail, "受信テンポラリファイルのオープンに失敗 [%s]", path);
      s.SetError(-1201, "受信テンポラリファイルのオープンに失敗 [%s]", path);
      return false;
    }
    if (s.DeliverRetrieved(*message, delivered) != 1) {
      raw.Keep();
      return false;
    }
    if (!s.WritesDisplayFiles()) return true;
  }
  TextFile displayFile;
  switch (names.Next(folder, wanted, display, displayFile)) {
    case 1:
      break;
    case 0:
      raw.Keep();
      ZEL_LOG(InetMail, "表示ファイル番号の保存に失敗 [%s]", display.c_str());
      s.SetError(-1105, "表示ファイル番号の保存に失敗 [%s]", display.c_str());
      return false;
    default:
      raw.Keep();
      ZEL_LOG(InetMail, "保存ファイルのオープンに失敗 [%s]", display.c_str());
      s.SetError(-1105, "保存ファイルのオープンに失敗 [%s]", display.c_str());
      return false;
  }
  // From here a failure removes the display file too: it holds no whole
  // message and no list line names it.
  const auto failed = [&](int error, const char* logText, const char* errorText) {
    const char* path = raw.Keep();
    ZEL_LOG(InetMail, logText, path);
    s.SetError(error, errorText, path);
    displayFile.Close();
    DeleteFileAt(display);
    return false;
  };
  LineSource* in = raw.Read();
  if (in == nullptr) {
    return failed(-1201, "受信テンポラリファイルのオープンに失敗 [%s]", "受信テンポラリファイルのオープンに失敗 [%s]");
  }
  TextFileSink out(displayFile);
  s.messageInfo.clear();
  MessageDecoder decoder(s.Decoding());
  if (decoder.decodeHeader(*in, out, s.messageInfo) != 1) {
    return failed(-1102, "ヘッダ部のデコードに失敗 [%s]", "ヘッダ部のデコードに失敗 %s");
  }
  // The display file's close counts as writing the body; a read error of
  // a large message's file would leave the message cut short.
  if (decoder.decodeBody(*in, out) != 1 || in->failed() || !displayFile.Close()) {
    return failed(-1103, "本文部のデコードに失敗 [%s]", "本文部のデコードに失敗 %s");
  }
  if (!list.Write(FormatListLine(display, s.messageInfo)) || !list.Commit()) {
    raw.Keep();
    ZEL_LOG(InetMail, "リストファイルの書き込みに失敗 [%s]", s.listFilePath);
    s.SetError(-1104, "リストファイルの書き込みに失敗 [%s]", s.listFilePath);
    DeleteFileAt(display);
    return false;
  }
  return true;
}

void CloseRunList(InetMail& s, RecordFile& list, const char* listPath, bool listed, bool unused,
                  ReceiveFiles& files) {
  list.Close();
  if (!listed) return;
  if (unused) {
    DeleteFileAt(listPath);
  } else if (s.deleteOnServer == 1) {
    files.written.push_back(listPath);
  }
}

}  // namespace zel
