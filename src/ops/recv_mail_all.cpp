// Receive-all on the caller's thread: the hidden control window, the worker
// thread, the progress dialog and the message loop that runs until the
// worker's end report (or a cancel) has destroyed the control window.
//
// Messages (numbers fixed for hosts):
//   1124 wParam 4, the total    worker -> control window, sent
//   1124 wParam 0, the result   worker -> control window, posted: the end
//   1124 wParam 1, -1           worker -> control window, posted: failed
//   1125 wParam 4, the total    control window -> dialog, posted
//   1125 wParam 2               dialog -> control window, posted: Cancel
//   WM_COPYDATA (RecvProgress)  worker (in Retr) -> dialog, sent
#include "api/inet_mail.h"
#include "api/session_list.h"
#include "ops/receive_files.h"
#include "platform/file_ops.h"
#include "platform/log.h"
#include "ui/progress_dialog.h"
#include "window/thread.h"
#include "window/window.h"

namespace zel {

namespace {

constexpr const char* kControlClass = "zelpostInetMailClass";
constexpr const char* kControlTitle = "zelpostInetMail";
constexpr std::uint32_t kControlStyle = kWsPopupWindow | kWsDlgFrame;
constexpr int kControlSize = 200;  // pixels, at 0,0; never shown
constexpr int kPaintTextY = 24;

// 1124: the worker's reports to the control window.
constexpr unsigned kControlMessage = kWmUser + 100;
constexpr MessageParam kReportDone = 0;
constexpr MessageParam kReportFailed = 1;
constexpr MessageParam kReportTotal = 4;

// Result of a cancelled run.
constexpr int kCancelled = -2;

// Copies one path argument into its session field; an absent one leaves it
// empty. Returns false when the path does not fit.
bool CopyPath(char (&field)[kPathSize], const char* path) {
  field[0] = '\0';
  return path == nullptr || CopyBounded(field, path);
}

}  // namespace

bool InetMail::RefuseWhileReceiving(const char* operation) {
  if (!receiveAllRunning) return false;
  ZEL_LOG(InetMail, "受信処理の実行中は %s を実行できない", operation);
  return true;
}

// RecvMailAll - receives every new message; see inet_mail.h for results.
// The caller's thread keeps pumping its messages until the run has ended
// and the worker has finished; a quit message that arrives meanwhile (the
// host closing) cancels the run and is posted again before the return.
// Set-up failures give 0 with error -1: "RegisterClassで失敗 %d" (a
// receive-all of the process runs already), "メインウィンドウ作成に失敗"
// (the HWND option names no window), a path longer than its field, or a
// worker thread that cannot be started.
int InetMail::RecvMailAll(const char* listfile, const char* maildir, const char* dupfile,
                          const char* mailbox) {
  if (RefuseWhileReceiving("RecvMailAll")) return 0;
  ClearError();
  recvAllResult = 0;
  for (const auto& [field, path] : {std::pair{&listFilePath, listfile}, {&mailFolderPath, maildir},
                                    {&seenFilePath, dupfile}, {&mailboxFilePath, mailbox}}) {
    if (!CopyPath(*field, path)) {
      ZEL_LOG(InetMail, "パスが長すぎる [%s]", path);
      SetError(-1, "パスが長すぎる [%s]", path);
      return 0;
    }
  }
  if (!RegisterWindowClass(kControlClass, ControlWindowProcedure, kCsHRedraw | kCsVRedraw)) {
    const unsigned long error = LastWindowError();
    ZEL_LOG(InetMail, "RegisterClassで失敗 %lu", error);
    SetError(-1, "RegisterClassで失敗 %lu", error);
    return 0;
  }
  controlWindow = CreateHiddenWindow(kControlClass, kControlTitle, kControlStyle, 0, 0,
                                     kControlSize, kControlSize, hostWindow);
  if (controlWindow == 0) {
    ZEL_LOG(InetMail, "メインウィンドウ作成に失敗");
    SetError(-1, "メインウィンドウ作成に失敗");
    UnregisterWindowClass(kControlClass);
    return 0;
  }
  // Everything the worker reads is in place before it starts: the channel
  // enabled here (a cancel that comes before the worker's first command
  // then holds), the dialog made before, not after, the thread starts.
  receiveAllRunning = true;
  recvAllEnded = false;
  Enable();
  progressDialog = silent == 0 ? CreateProgressDialog(controlWindow, executeType) : 0;
  progressWindow = progressDialog;
  workerThread = StartThread(RunReceiveAllWorker, this);
  if (workerThread == 0) {
    ZEL_LOG(InetMail, "受信スレッドの起動に失敗");
    SetError(-1, "受信スレッドの起動に失敗");
    recvAllEnded = true;  // the destroy is no cancel
    DestroyWindowTree(controlWindow);
  }

  bool quitSeen = false;
  int quitCode = 0;
  Message message;
  while (IsLiveWindow(controlWindow)) {
    if (!GetNextMessage(message)) {
      // Not ours: the host's loop is to end. Stop the run first.
      quitSeen = true;
      quitCode = static_cast<int>(message.wParam);
      CancelReceiveAll();
      continue;
    }
    DispatchWindowMessage(message);
  }
  // The worker may still be closing its files after a cancel; it must be
  // done with the session before the session is used again.
  if (workerThread != 0) JoinThread(workerThread);
  workerThread = 0;
  UnregisterWindowClass(kControlClass);
  controlWindow = 0;
  progressDialog = 0;
  progressWindow = 0;
  receiveAllRunning = false;
  if (quitSeen) PostQuit(quitCode);
  return recvAllResult;
}

void InetMail::CancelReceiveAll() {
  // The worker's blocked receive fails at once; it sends nothing more, so
  // no QUIT goes out and the server deletes nothing of this run.
  Disable();
  recvAllResult = kCancelled;
  recvAllEnded = true;
  Quit();
  DestroyWindowTree(controlWindow);  // an open dialog goes with it
}

std::intptr_t InetMail::ControlWindowMessage(WindowHandle window, unsigned message,
                                             std::uintptr_t wParam, std::intptr_t lParam) {
  switch (message) {
    case kWmDestroy:
      // Destroyed by anything but the end or a cancel (the host's window,
      // its parent, went away): the run is cancelled.
      if (!recvAllEnded) {
        Disable();
        recvAllResult = kCancelled;
        recvAllEnded = true;
        Quit();
      }
      return 0;
    case kWmPaint:
      PaintWindowText(window, 0, kPaintTextY, "RZ用メーラDLL製作中");
      return 0;
    case kControlMessage:
      if (wParam == kReportTotal) {
        if (IsLiveWindow(progressDialog)) {
          PostWindowMessage(progressDialog, kProgressNotify, kNotifyTotal, lParam);
        }
      } else if (wParam == kReportDone || wParam == kReportFailed) {
        if (wParam == kReportFailed) ZEL_LOG(InetMail, "異常終了");
        recvAllResult = static_cast<int>(lParam);
        recvAllEnded = true;
        if (IsLiveWindow(progressDialog)) DestroyWindowTree(progressDialog);
        DestroyWindowTree(window);
      }
      return 0;
    case kProgressNotify:
      if (wParam == kNotifyCancel) CancelReceiveAll();
      return 0;
    default:
      return DefaultWindowProc(window, message, wParam, lParam);
  }
}

void InetMail::ReportTotal(int total) {
  SendWindowMessage(controlWindow, kControlMessage, kReportTotal, total);
}

// The worker thread's body: ReceiveAll, then the mailbox step when a
// mailbox file was given and messages were stored, then the end of the
// connection (the run's last batch recorded first) and the end report. The
// run's locks go before the report.
void InetMail::RecvAllWorkerBody() {
  MessageParam report = kReportDone;
  int result = 0;
  {
    ReceiveFiles files;
    const bool mailbox = mailboxFilePath[0] != '\0' && WritesDisplayFiles();
    // The mailbox is written after the message loop: the run records once,
    // after it.
    files.recordEachBatch = !mailbox;
    // MAXSIZE holds whatever size the listing claims.
    SetMessageLimit(static_cast<std::uint64_t>(maxMessageSize));
    const int count = ReceiveAll(listFilePath, mailFolderPath, seenFilePath, files);
    result = count;
    if (count > 0 && mailbox) {
      const bool created = !PathExists(mailboxFilePath);
      result = MailboxStep(&files.list);
      // The list (replaced) and the mailbox are flushed with the run's last
      // batch; the reading copies went into the mailbox and are gone.
      files.batch.AddFile(listFilePath, true);
      files.batch.AddFile(mailboxFilePath, created);
      if (result == 0) {
        ZEL_LOG(InetMail, "MakeDispMail 異常終了");
        report = kReportFailed;
        result = -1;
      }
    } else if (count < 0) {
      ZEL_LOG(InetMail, "RecvMailAll 異常終了");
      report = kReportFailed;
      result = -1;
    }
    EndReceive(files);
    SetMessageLimit(0);
  }
  PostWindowMessage(controlWindow, kControlMessage, report, result);
}

}  // namespace zel
