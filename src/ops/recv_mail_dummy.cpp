// Single-message receive: one raw message (a dummy file, or the first
// message of the POP3 service on the local machine) becomes a display file.
#include "api/inet_mail.h"
#include "codec/message_decoder.h"
#include "platform/file_ops.h"
#include "platform/log.h"
#include "platform/temp_file.h"
#include "platform/text_file.h"
#include "store/text_file_stream.h"

namespace zel {

namespace {

// Where the raw message comes from, before it is decoded.
enum class Fetch { kReady, kNone, kFailed };

}  // namespace

// RecvMailDummy - decodes one raw message into the display file `mailfile`.
//   mailfile   display file to write (text)
//   dummyfile  raw message file to convert offline; nullptr to fetch the
//              first listed message from the POP3 service at hostName
//              (it stays on the server)
// Returns 1 written; 0 no message or a failed step; -1 login or listing
// failed (error number 0, or -400 to -403 after a failure of TLS). Error
// numbers: -1201 temporary file or a dummy file that cannot be read, -1200
// display file, -1102 header, -1103 body.
// The raw temporary file is deleted on success and whenever no whole
// message was fetched; after a failed decoding it stays for inspection.
// `mailfile` is written only when it is a regular file of the effective
// user reached without a link (or new): anything else fails with -1200.
int InetMail::RecvMailDummy(const char* mailfile, const char* dummyfile) {
  if (RefuseWhileReceiving("RecvMailDummy")) return 0;
  ClearError();
  char raw[kPathSize];
  if (MakeTempName(raw) != 1) {
    ZEL_LOG(InetMail, "受信用テンポラリファイル名取得に失敗");
    SetError(-1201, "受信用テンポラリファイル名取得に失敗");
    return 0;
  }

  if (dummyfile != nullptr) {
    // The copy is checked: an unreadable dummy file is a failure, not an
    // empty message decoded as success.
    if (!CopyFileReplace(dummyfile, raw)) {
      ZEL_LOG(InetMail, "受信テンポラリファイルのオープンに失敗 %s", dummyfile);
      SetError(-1201, "受信テンポラリファイルのオープンに失敗 %s", dummyfile);
      DeleteFileAt(raw);
      return 0;
    }
  } else {
    // The local machine's POP3 service, named by the recorded host name.
    Enable();  // a cancel of an earlier receive-all does not outlive it
    const int login = Login(hostName, Pop3PortInUse(), userName, password, useApop);
    if (login != 1) {
      TakeFailure(*this);
      ReportSecureFailure(login, hostName, true);
      ZEL_LOG(InetMail, "POP3初期化に失敗");
      Close();  // Login may leave the connection open
      DeleteFileAt(raw);
      return -1;
    }
    const int number = NextMessage();
    if (number <= 0) {
      if (number < 0) {
        TakeFailure(*this);
        ZEL_LOG(InetMail, "POP3受信IDの取得に失敗");
      }
      Quit();
      DeleteFileAt(raw);
      return number < 0 ? -1 : 0;
    }
    if (Retr(number, raw) != 1) {
      TakeFailure(*this);
      ZEL_LOG(InetMail, "POP3本文受信に失敗");
      Quit();
      DeleteFileAt(raw);  // part of a message that stays on the server
      return 0;
    }
    Quit();
  }

  TextFile display;
  if (!display.Open(mailfile, TextFile::Mode::kWrite)) {
    ZEL_LOG(InetMail, "受信ファイルのオープンに失敗 %s", mailfile);
    SetError(-1200, "受信ファイルのオープンに失敗 %s", mailfile);
    return 0;
  }
  TextFile rawFile;
  if (!rawFile.Open(raw, TextFile::Mode::kRead)) {
    ZEL_LOG(InetMail, "受信テンポラリファイルのオープンに失敗 %s", raw);
    SetError(-1201, "受信テンポラリファイルのオープンに失敗 %s", raw);
    display.Close();
    return 0;
  }
  TextFileSource in(rawFile);
  TextFileSink out(display);
  messageInfo.clear();
  MessageDecoder decoder(Decoding());
  if (decoder.decodeHeader(in, out, messageInfo) != 1) {
    ZEL_LOG(InetMail, "ヘッダ部のデコードに失敗 %s", raw);
    SetError(-1102, "ヘッダ部のデコードに失敗 %s", raw);
    return 0;  // both files close on return
  }
  // The display file's final flush counts as writing the body; a read error
  // of the raw file would leave the message cut short, so it fails too.
  if (decoder.decodeBody(in, out) != 1 || rawFile.Failed() || !display.Close()) {
    ZEL_LOG(InetMail, "本文部のデコードに失敗 %s", raw);
    SetError(-1103, "本文部のデコードに失敗 %s", raw);
    return 0;
  }
  rawFile.Close();
  DeleteFileAt(raw);
  return 1;
}

}  // namespace zel
