// The public header of the POSIX message layer: a host finds a modal
// dialog running on another thread, reads its list box, presses its
// buttons and answers the Save dialog and the message box it opens.
#ifndef _WIN32
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "window/dialog.h"
#include "zelpost_ui.h"

namespace zel::test {
namespace {

constexpr int kListDialogId = 7001;
constexpr int kSaveButton = 57601;
constexpr int kList = 1001;
constexpr int kWaitMs = 10000;

// A dialog that lists two names and saves the selected one through the
// Save dialog and the overwrite question; what it was told goes to `log`.
std::intptr_t ListDialogProc(WindowHandle dialog, unsigned message, MessageParam wParam,
                             MessageLong lParam) {
  if (message == kWmInitDialog) {
    SetWindowData(dialog, reinterpret_cast<void*>(lParam));
    for (const char* name : {"first.txt", "添付２.bin"}) {
      const auto at = SendItemMessage(dialog, kList, kLbAddString, 0, reinterpret_cast<MessageLong>(name));
      SendItemMessage(dialog, kList, kLbSetItemData, static_cast<MessageParam>(at), 10 * (at + 1));
    }
    SendItemMessage(dialog, kList, kLbSetCurSel, 1, 0);
    return 1;
  }
  if (message != kWmCommand) return 0;
  auto& log = *static_cast<std::vector<std::string>*>(WindowData(dialog));
  if (CommandId(wParam) == kIdCancel) {
    EndModalDialog(dialog, 0);
  } else if (CommandId(wParam) == kSaveButton) {
    char path[260];
    const auto selected = SendItemMessage(dialog, kList, kLbGetCurSel, 0, 0);
    SendItemMessage(dialog, kList, kLbGetText, static_cast<MessageParam>(selected),
                    reinterpret_cast<MessageLong>(path));
    if (!AskSavePath(dialog, "添付ファイルを保存", path, sizeof path)) {
      log.push_back("cancelled");
    } else {
      const int answer = AskYesNo(dialog, "上書きしますか", "添付ファイル保存");
      log.push_back(std::string(path) + (answer == kIdYes ? " yes" : " no"));
    }
  }
  return 1;
}

std::string Text(zeluiWindow window) {
  char text[300];
  return zeluiGetText(window, text, sizeof text) >= 0 ? text : "<none>";
}

TEST(HostHeader, DrivesAModalDialogWithListSaveDialogAndMessageBox) {
  const DialogControl controls[] = {
      {ControlKind::kButton, kSaveButton, "保存(&S)", kBsDefPushButton, 105, 7, 42, 14},
      {ControlKind::kButton, kIdCancel, "閉じる", 0, 105, 24, 42, 14},
      {ControlKind::kListBox, kList, "", kLbsNotify | kWsVScroll | kWsBorder | kLbsNoIntegralHeight, 7, 7, 94, 74},
  };
  const DialogTemplate dialogTemplate{kListDialogId, "list", kWsPopup | kWsCaption, 154, 88, "", 12,
                                      controls, std::size(controls)};
  std::vector<std::string> log;
  std::intptr_t result = -5;
  unsigned uiThread = 0;
  std::thread ui([&] {
    uiThread = zeluiThreadId();
    result = RunModalDialog(dialogTemplate, 0, &ListDialogProc, &log);
  });
  const zeluiWindow dialog = zeluiWaitDialog(0, kListDialogId, kWaitMs);
  ASSERT_NE(dialog, 0u);
  EXPECT_EQ(zeluiFindDialog(uiThread, ZELUI_ANY_DIALOG), dialog);
  EXPECT_EQ(zeluiFindDialog(zeluiThreadId(), ZELUI_ANY_DIALOG), 0u);
  const zeluiWindow list = zeluiGetDlgItem(dialog, kList);
  zeluiWindowInfo info;
  ASSERT_EQ(zeluiGetInfo(list, &info), 1);
  EXPECT_EQ((std::vector<int>{info.kind, info.count, info.selection}),
            (std::vector<int>{ZELUI_KIND_LISTBOX, 2, 1}));
  intptr_t data = 0;
  EXPECT_EQ(zeluiListData(list, 1, &data), 1);
  EXPECT_EQ(data, 20);
  EXPECT_EQ(zeluiPressButton(dialog, kList), 0);  // not a button
  EXPECT_EQ(zeluiAnswerSave(dialog, "x"), 0);     // not a Save dialog

  // Save answered with a path and No, cancelled, answered with Yes.
  struct Round {
    const char* path;
    int answer;
  };
  for (const Round& round : {Round{"/tmp/a.bin", ZELUI_IDNO}, Round{nullptr, 0},
                             Round{"/tmp/保存.bin", ZELUI_IDYES}}) {
    ASSERT_EQ(zeluiPressButton(dialog, kSaveButton), 1);
    const zeluiWindow save = zeluiWaitDialog(uiThread, ZELUI_SAVE_DIALOG, kWaitMs);
    ASSERT_NE(save, 0u);
    EXPECT_EQ(Text(save), "添付ファイルを保存");
    EXPECT_EQ(Text(zeluiGetDlgItem(save, ZELUI_SAVE_NAME)), "添付２.bin");
    ASSERT_EQ(zeluiAnswerSave(save, round.path), 1);
    EXPECT_EQ(zeluiWaitGone(save, kWaitMs), 1);
    if (round.path == nullptr) continue;
    const zeluiWindow box = zeluiWaitDialog(uiThread, ZELUI_MESSAGE_BOX, kWaitMs);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(Text(box), "添付ファイル保存");
    EXPECT_EQ(Text(zeluiGetDlgItem(box, ZELUI_MESSAGE_TEXT)), "上書きしますか");
    ASSERT_EQ(zeluiPressButton(box, round.answer), 1);
    EXPECT_EQ(zeluiWaitGone(box, kWaitMs), 1);
  }
  ASSERT_EQ(zeluiPressButton(dialog, ZELUI_IDCANCEL), 1);
  ui.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"/tmp/a.bin no", "cancelled", "/tmp/保存.bin yes"}));
  EXPECT_EQ(zeluiWaitGone(dialog, 0), 1);
  EXPECT_EQ(zeluiWaitDialog(0, kListDialogId, 10), 0u);  // time-out
  EXPECT_EQ(zeluiGetText(dialog, nullptr, 0), -1);
}

}  // namespace
}  // namespace zel::test
#endif
