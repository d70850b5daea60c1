// The run's file locks and the store step of a retrieved message.
#include "ops/receive_steps.h"

#include <memory>
#include <utility>

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
#include "store/seen_set.h"
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
  if (seenFile) files.seenPath = seenPath;
  return !seenFile || LockRunFile(s, files.seen, seenPath, "既読UIDLファイル");
}

bool StoreRetrieved(InetMail& s, RawMessage& raw, DisplayNameBlock& names, int wanted, RecordFile& list,
                    const char* folder, ReceiveFiles& files, std::string& display) {
  display.clear();
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
    if (s.DeliverRetrieved(*message, files.batch) != 1) {
      raw.Keep();
      return false;
    }
    if (!s.WritesDisplayFiles()) {
      files.batch.AddMessage(raw.Size());
      return true;
    }
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
  files.batch.AddFile(display, true);
  files.batch.AddFile(s.listFilePath, std::exchange(files.listCreated, false));
  files.batch.AddMessage(raw.Size());
  return true;
}

SeenSet* LoadSeen(InetMail& s, ReceiveFiles& files) {
  if (files.seenPath.empty()) return nullptr;
  if (files.seenSet == nullptr) {
    files.seenSet = std::make_unique<SeenSet>();
    files.seenSet->Load(files.seenPath);
    s.seenSet = files.seenSet.get();
  }
  return files.seenSet.get();
}

bool CommitReceived(InetMail& s, ReceiveFiles& files, bool last) {
  if (files.flushFailed) return false;
  // A run that records nothing (POP3 without a seen file or DELE) has
  // nothing to flush for; its Maildir files are still moved into new/.
  const bool records = files.seenSet != nullptr || s.deleteOnServer == 1 || s.protocol == kProtocolImap;
  const bool sync = s.syncFiles == 1 && records;
  bool flushed = false;
  bool ok = true;
  // The seen file's new version is flushed with the batch, and put in
  // place only when all of it is on the disk.
  const auto flush = [&](const std::string& seenVersion) {
    flushed = true;
    ok = files.batch.Flush(sync, seenVersion);
    return ok;
  };
  if (files.seenSet != nullptr) {
    if (last && !files.complete) files.seenSet->KeepAll();
    files.seenUsed = true;
    if (files.seenSet->Save(files.seenPath, &files.seen, !last, flush) != 1 && ok) {
      ZEL_LOG(InetMail, "既読UIDLファイルの保存に失敗 [%s]", files.seenPath.c_str());
    }
    if (last) {
      s.seenSet = nullptr;
      files.seenSet.reset();
    }
  }
  if (!flushed) flush(std::string());
  if (ok) return true;
  files.flushFailed = true;
  ZEL_LOG(InetMail, "受信したファイルのディスクへの書き出しに失敗 [%s]", s.listFilePath);
  s.SetError(-1105, "受信したファイルのディスクへの書き出しに失敗 [%s]", s.listFilePath);
  return false;
}

void CloseRunList(RecordFile& list, const char* listPath, bool listed, bool unused) {
  list.Close();
  if (listed && unused) DeleteFileAt(listPath);
}

}  // namespace zel
