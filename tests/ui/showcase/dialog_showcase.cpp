// Shows one of the library's dialogs with sample Japanese texts for a
// screenshot (scripts/screenshots.sh) and keeps it up until told to stop.
//   dialog_showcase --list        the dialogs it can show, one per line
//   dialog_showcase NAME          shows NAME, writes "shown.flag" in the
//                                 current folder once it is up, and ends
//                                 when "done.flag" appears there
// A dialog is added with one entry in kShowcases. The "run-" showcases are
// real receive-all runs against the POP3 server $ZEL_SHOWCASE_POP3
// ("host:port", user alice), held at their second message; they are listed
// only when that variable is set.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "api/inet_mail.h"
#include "net/recv_progress.h"
#include "platform/file_ops.h"
#include "platform/temp_file.h"
#include "ui/attachment_dialog.h"
#include "ui/dialog_ids.h"
#include "ui/progress_dialog.h"
#include "window/dialog.h"
#include "window/thread.h"

namespace {

using namespace zel;

constexpr char kShownFlag[] = "shown.flag";
constexpr char kDoneFlag[] = "done.flag";
constexpr unsigned kTotal = kWmUser + 100;  // as the control window gets it
constexpr unsigned kStop = kWmUser + 7;

WindowHandle progressDialog = 0;

MessageResult ControlProc(WindowHandle window, unsigned message, MessageParam wParam,
                          MessageLong lParam) {
  if (message == kTotal) PostWindowMessage(progressDialog, kProgressNotify, kNotifyTotal, lParam);
  if (message == kStop || message == kWmDestroy) PostQuit(0);
  return DefaultWindowProc(window, message, wParam, lParam);
}

void WriteFlag(const char* path) {
  if (std::FILE* f = std::fopen(path, "w")) std::fclose(f);
}

// Waits for the done flag, then posts kStop to `window`.
void StopWhenDone(void* window) {
  while (!PathExists(kDoneFlag)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  PostWindowMessage(reinterpret_cast<WindowHandle>(window), kStop, 0, 0);
}

// A receive-all progress dialog half-way: message 2 of 5.
int ShowProgress(int executeType) {
  RegisterWindowClass("zelShowcaseClass", &ControlProc, 0);
  const WindowHandle control =
      CreateHiddenWindow("zelShowcaseClass", "zelpostInetMail", kWsPopupWindow, 0, 0, 200, 200, 0);
  progressDialog = CreateProgressDialog(control, executeType);
  if (progressDialog == 0) return 1;
  std::thread worker([control] {
    SendWindowMessage(control, kTotal, kNotifyTotal, 5);
    RecvProgress record;
    FillRecvProgress(record, 5, 2, "=?ISO-2022-JP?B?GyRCJUYlOSVIJWEhPCVrGyhC?=",
                     "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>");
    SendProgress(progressDialog, record);
    WriteFlag(kShownFlag);
    StopWhenDone(reinterpret_cast<void*>(control));
  });
  Message m;
  while (GetNextMessage(m)) DispatchWindowMessage(m);
  worker.join();
  DestroyWindowTree(control);
  return 0;
}

// The attachment dialog of a message with three attachments named in
// Japanese; closed when told to stop.
int ShowAttachments() {
  const char kMessage[] =
      "Subject: showcase\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\ntext\r\n"
      "--b\r\nContent-Disposition: attachment; filename=\"=?ISO-2022-JP?B?GyRCMnE1RDtxTkEbKEIucGRm?=\"\r\n\r\n1\r\n"
      "--b\r\nContent-Disposition: attachment;\r\n filename=\"=?ISO-2022-JP?B?GyRCOCtAUT1xIUoyfkR7SEchSxsoQi54bHN4?=\"\r\n"
      "\r\n2\r\n"
      "--b\r\nContent-Disposition: attachment; filename=\"=?ISO-2022-JP?B?GyRCST07ZiROPEw/PxsoQi5qcGc=?=\"\r\n\r\n3\r\n"
      "--b--\r\n";
  std::FILE* f = std::fopen("showcase.wml", "wb");
  if (f == nullptr) return 1;
  std::fwrite(kMessage, 1, sizeof kMessage - 1, f);
  std::fclose(f);
  std::thread closer([] {
    const WindowHandle dialog = WaitForDialog(ZEL_IDD_ATTACHMENT, 60000);
    if (dialog == 0) return;
    WriteFlag(kShownFlag);
    while (!PathExists(kDoneFlag)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostWindowMessage(dialog, kWmCommand, CommandParam(kIdCancel, kBnClicked), 0);
  });
  const int result = RunAttachmentDialog("showcase.wml");
  closer.join();
  return result == 0 ? 0 : 1;
}

// Delivers the record to the dialog as the library does; at the second
// message flags "shown" and holds the run until the done flag appears.
void HoldAtSecondMessage(WindowHandle window, const RecvProgress& record) {
  SendCopyData(window, 0, kRecvProgressId, &record, sizeof record);
  if (record.retrievedCount != 2) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the dialog paints
  WriteFlag(kShownFlag);
  while (!PathExists(kDoneFlag)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// A receive-all run against $ZEL_SHOWCASE_POP3 with the dialog of
// `executeType`.
int ShowRun(int executeType) {
  const char* server = std::getenv("ZEL_SHOWCASE_POP3");
  std::string temp;
  if (server == nullptr || !TempDirectory(temp)) return 1;
  const std::filesystem::path folder = std::filesystem::path(temp) / "zelshowcase";
  std::filesystem::create_directories(folder);
  InetMail session;
  if (session.Initialize(server, "127.0.0.1", "alice", "alicepw", "alice@zelpost.test", "") != 1) {
    return 1;
  }
  session.executeType = executeType;
  SetProgressSender(HoldAtSecondMessage);
  const int stored = session.RecvMailAll((folder / "list.txt").string().c_str(),
                                         folder.string().c_str(), nullptr, nullptr);
  std::filesystem::remove_all(folder);
  return stored > 0 ? 0 : 1;
}

struct Showcase {
  const char* name;
  int (*show)();
  bool run;  // a receive-all run: needs the POP3 server
};
const Showcase kShowcases[] = {
    {"229", [] { return ShowProgress(1); }, false},
    {"232", [] { return ShowProgress(2); }, false},
    {"230", ShowAttachments, false},
    {"run-229", [] { return ShowRun(1); }, true},
    {"run-232", [] { return ShowRun(2); }, true},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dialog_showcase --list | NAME\n");
    return 2;
  }
  const bool server = std::getenv("ZEL_SHOWCASE_POP3") != nullptr;
  for (const Showcase& s : kShowcases) {
    if (std::strcmp(argv[1], "--list") == 0) {
      if (!s.run || server) std::printf("%s\n", s.name);
    } else if (std::strcmp(argv[1], s.name) == 0) {
      return s.show();
    }
  }
  return std::strcmp(argv[1], "--list") == 0 ? 0 : 2;
}
