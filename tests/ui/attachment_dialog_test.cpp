// The attachment dialog on POSIX, driven as a host drives it through the
// message layer's public header: the template, the list, saving through the
// Save dialog, the overwrite question answered No and Yes, Close, and the
// results of the dialogs that are never seen.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "../api/scratch.h"
#include "ui/dialog_ids.h"
#include "zelpost.h"
#include "zelpost_ui.h"

namespace zel::test {
namespace {

constexpr int kWait = 5000;  // ms for a dialog to appear or go

// zelDialogAttach on a thread of its own, as a host's UI thread runs it.
class DialogRun {
 public:
  explicit DialogRun(const std::string& path) : path_(path) {
    thread_ = std::thread([this] {
      thread_id_ = zeluiThreadId();
      result_.set_value(zelDialogAttach(path_.c_str()));
    });
    while (thread_id_ == 0) std::this_thread::yield();
  }
  ~DialogRun() { thread_.join(); }
  unsigned thread() const { return thread_id_; }
  zeluiWindow wait(int dialog) const { return zeluiWaitDialog(thread_id_, dialog, kWait); }
  int result() {
    auto f = result_.get_future();
    return f.wait_for(std::chrono::milliseconds(kWait)) == std::future_status::ready ? f.get() : -99;
  }

 private:
  std::string path_;
  std::atomic<unsigned> thread_id_{0};
  std::promise<int> result_;
  std::thread thread_;
};

std::string Text(zeluiWindow window) {
  char buffer[512];
  return zeluiGetText(window, buffer, sizeof buffer) < 0 ? "<none>" : buffer;
}

// A display file with a text part and three attachments.
const std::string kMessage =
    "Subject: files\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\n本文\r\n"
    "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"a.txt\"\r\n\r\nYWFh\r\n"
    "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"=?ISO-2022-JP?B?GyRCRTpJVRsoQi50eHQ=?=\"\r\n\r\nYmJi\r\n"
    "--b\r\nContent-Disposition: attachment; filename=\"..\\evil\\c.txt\"\r\n\r\nccc\r\n"
    "--b--\r\n";

TEST(AttachmentDialog, ListSaveOverwriteAndClose) {
  ScratchDir dir;
  const std::string mail = dir.File("zel00001.wml");
  WriteBytes(mail, kMessage);
  DialogRun run(mail);
  const zeluiWindow dialog = run.wait(ZEL_IDD_ATTACHMENT);
  ASSERT_NE(dialog, 0u);

  zeluiWindowInfo info{};
  ASSERT_EQ(zeluiGetInfo(dialog, &info), 1);
  EXPECT_EQ(Text(dialog), "添付ファイル一覧");
  EXPECT_EQ(info.width, 154);
  EXPECT_EQ(info.height, 88);
  EXPECT_STREQ(info.font, "ＭＳ Ｐゴシック");
  EXPECT_EQ(info.fontPoints, 12);
  EXPECT_EQ(info.visible, 1);
  const struct {
    int id, kind;
    const char* text;
    int x, y, width, height;
  } controls[] = {
      {ZEL_IDC_ATTACH_SAVE, ZELUI_KIND_BUTTON, "保存(&S)", 105, 7, 42, 14},
      {ZELUI_IDCANCEL, ZELUI_KIND_BUTTON, "閉じる", 105, 24, 42, 14},
      {ZEL_IDC_ATTACH_LIST, ZELUI_KIND_LISTBOX, "", 7, 7, 94, 74},
  };
  for (int i = 0; i < 3; ++i) {
    const zeluiWindow control = zeluiChildAt(dialog, i);
    ASSERT_EQ(zeluiGetInfo(control, &info), 1);
    EXPECT_EQ(info.id, controls[i].id);
    EXPECT_EQ(info.kind, controls[i].kind);
    EXPECT_EQ(Text(control), controls[i].text);
    EXPECT_EQ(info.x, controls[i].x);
    EXPECT_EQ(info.y, controls[i].y);
    EXPECT_EQ(info.width, controls[i].width);
    EXPECT_EQ(info.height, controls[i].height);
  }
  EXPECT_EQ(zeluiChildAt(dialog, 3), 0u);

  const zeluiWindow list = zeluiGetDlgItem(dialog, ZEL_IDC_ATTACH_LIST);
  ASSERT_EQ(zeluiGetInfo(list, &info), 1);
  ASSERT_EQ(info.count, 3);
  EXPECT_EQ(info.selection, 0);
  char name[300];
  const char* names[] = {"a.txt", "添付.txt", "c.txt"};
  for (int i = 0; i < 3; ++i) {
    zeluiListText(list, i, name, sizeof name);
    EXPECT_STREQ(name, names[i]);
  }

  // Save the second attachment (part 2) under a path of our choice.
  const std::string target = dir.File("saved.txt");
  const auto save = [&](int entry, const char* path) {
    ASSERT_EQ(zeluiSelectEntry(list, entry), 1);
    ASSERT_EQ(zeluiPressButton(dialog, ZEL_IDC_ATTACH_SAVE), 1);
    const zeluiWindow box = run.wait(ZELUI_SAVE_DIALOG);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(Text(box), "添付ファイルを保存");
    EXPECT_EQ(Text(zeluiGetDlgItem(box, ZELUI_SAVE_NAME)), names[entry]);
    ASSERT_EQ(zeluiAnswerSave(box, path), 1);
    ASSERT_EQ(zeluiWaitGone(box, kWait), 1);
  };
  save(1, target.c_str());
  // The next dialog (the question below) proves the save has run; here a
  // second Save cancelled in its Save dialog changes nothing either.
  save(0, nullptr);

  // Saving onto the existing file asks first: No keeps it, Yes replaces it.
  for (const int answer : {ZELUI_IDNO, ZELUI_IDYES}) {
    save(0, target.c_str());
    const zeluiWindow question = run.wait(ZELUI_MESSAGE_BOX);
    ASSERT_NE(question, 0u);
    EXPECT_EQ(Text(question), "添付ファイル保存");
    EXPECT_EQ(Text(zeluiGetDlgItem(question, ZELUI_MESSAGE_TEXT)), "上書きしますか");
    EXPECT_EQ(ReadBytes(target), "bbb");
    ASSERT_EQ(zeluiPressButton(question, answer), 1);
    ASSERT_EQ(zeluiWaitGone(question, kWait), 1);
  }
  // Close: the answer Yes has been handled before it, so the file is new.
  ASSERT_EQ(zeluiPressButton(dialog, ZELUI_IDCANCEL), 1);
  EXPECT_EQ(run.result(), 0);
  EXPECT_EQ(ReadBytes(target), "aaa");
}

TEST(AttachmentDialog, DialogsNeverSeen) {
  ScratchDir dir;
  const std::string single = dir.File("single.wml");
  WriteBytes(single, "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\ntext\r\n--b--\r\n");
  const std::string plain = dir.File("plain.wml");
  WriteBytes(plain, "Subject: x\r\n\r\ntext\r\n");
  {
    DialogRun run(dir.File("missing.wml"));
    EXPECT_EQ(run.result(), -1);
  }
  {
    DialogRun run(single);
    EXPECT_EQ(run.result(), -2);
  }
  // Not multipart: an empty list; Save does nothing, Close returns 0.
  DialogRun run(plain);
  const zeluiWindow dialog = run.wait(ZEL_IDD_ATTACHMENT);
  ASSERT_NE(dialog, 0u);
  zeluiWindowInfo info{};
  ASSERT_EQ(zeluiGetInfo(zeluiGetDlgItem(dialog, ZEL_IDC_ATTACH_LIST), &info), 1);
  EXPECT_EQ(info.count, 0);
  ASSERT_EQ(zeluiPressButton(dialog, ZEL_IDC_ATTACH_SAVE), 1);
  ASSERT_EQ(zeluiPressButton(dialog, ZELUI_IDCANCEL), 1);
  EXPECT_EQ(run.result(), 0);
  EXPECT_EQ(zeluiFindDialog(run.thread(), ZELUI_SAVE_DIALOG), 0u);
}

}  // namespace
}  // namespace zel::test
