// The run's file locks and the store step of a retrieved message.
#include "ops/receive_steps.h"

#include "api/inet_mail.h"
#include "codec/message_decoder.h"
#include "ops/display_name.h"
#include "ops/list_file.h"
#include "ops/receive_files.h"
#include "ops/record_file.h"
#include "ops/text_file_stream.h"
#include "platform/file_lock.h"
#include "platform/file_ops.h"
#include "platform/log.h"
#include "platform/text_file.h"

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


bool StoreRetrieved(InetMail& s, const char* raw, RecordFile& list, const char* folder,
                    std::string& display, std::string& delivered) {
  display.clear();
  delivered.clear();
  // Delivery into a Maildir, an mbox or a command comes first; the display
  // file and list line follow only with KEEPDISPLAY.
  if (s.DeliversElsewhere()) {
    if (s.DeliverRetrieved(raw, delivered) != 1) return false;
    if (!s.WritesDisplayFiles()) return true;
  }
  TextFile displayFile;
  switch (NextDisplayName(folder, display, displayFile)) {
    case 1:
      break;
    case 0:
      ZEL_LOG(InetMail, "表示ファイル番号の保存に失敗 [%s]", display.c_str());
      s.SetError(-1105, "表示ファイル番号の保存に失敗 [%s]", display.c_str());
      return false;
    default:
      ZEL_LOG(InetMail, "保存ファイルのオープンに失敗 [%s]", display.c_str());
      s.SetError(-1105, "保存ファイルのオープンに失敗 [%s]", display.c_str());
      return false;
  }
  // From here a failure removes the display file: it holds no whole
  // message and no list line names it.
  TextFile rawFile;
  if (!rawFile.Open(raw, TextFile::Mode::kRead)) {
    ZEL_LOG(InetMail, "受信テンポラリファイルのオープンに失敗 [%s]", raw);
    s.SetError(-1201, "受信テンポラリファイルのオープンに失敗 [%s]", raw);
    displayFile.Close();
    DeleteFileAt(display);
    return false;
  }
  TextFileSource in(rawFile);
  TextFileSink out(displayFile);
  s.messageInfo.clear();
  MessageDecoder decoder(s.Decoding());
  if (decoder.decodeHeader(in, out, s.messageInfo) != 1) {
    ZEL_LOG(InetMail, "ヘッダ部のデコードに失敗 [%s]", raw);
    s.SetError(-1102, "ヘッダ部のデコードに失敗 %s", raw);
    displayFile.Close();
    DeleteFileAt(display);
    return false;
  }
  // The display file's close counts as writing the body; a read error of
  // the raw file would leave the message cut short.
  if (decoder.decodeBody(in, out) != 1 || rawFile.Failed() || !displayFile.Close()) {
    ZEL_LOG(InetMail, "本文部のデコードに失敗 [%s]", raw);
    s.SetError(-1103, "本文部のデコードに失敗 %s", raw);
    displayFile.Close();
    DeleteFileAt(display);
    return false;
  }
  rawFile.Close();

  if (!list.Write(FormatListLine(display, s.messageInfo)) || !list.Commit()) {
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
