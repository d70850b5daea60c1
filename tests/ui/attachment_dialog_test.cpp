// The attachment dialog: on both backends what it shows and lists (Japanese
// names read back from its list box); on POSIX, driven as a host drives it
// through the message layer's public header, saving through the Save dialog,
// the overwrite question answered No and Yes, Close, and the results of the
// dialogs that are never seen.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "../api/scratch.h"
#include "codec/mail_file.h"
#include "platform/path.h"
#include "platform/path_charset.h"
#include "platform/sjis_text.h"
#include "ui/dialog_ids.h"
#include "ui/host_part_files.h"
#include "window/dialog.h"
#include "zelpost.h"
#include "zelpost_ui.h"

namespace zel::test {
namespace {

constexpr int kWait = 5000;  // ms for a dialog to appear or go

// zelDialogAttach on a thread of its own, as a host's UI thread runs it.
class DialogRun {
 public:
  explicit DialogRun(const std::string& path) : path_(path) {
    thread_ = std::thread([this] { result_.set_value(zelDialogAttach(path_.c_str())); });
  }
  ~DialogRun() { thread_.join(); }
  int result() {
    auto f = result_.get_future();
    return f.wait_for(std::chrono::milliseconds(kWait)) == std::future_status::ready ? f.get() : -99;
  }

 private:
  std::string path_;
  std::promise<int> result_;
  std::thread thread_;
};

// Japanese file names: ISO-2022-JP encoded words (表 with its trail byte
// 0x5C), RFC 2231 in UTF-8 (whole, and in pieces on continuation lines),
// UTF-8 encoded words.
const std::string kJapaneseNames =
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\n本文\r\n"
    "--b\r\nContent-Disposition: attachment; filename=\"=?ISO-2022-JP?B?GyRCRTpJVRsoQi50eHQ=?=\"\r\n\r\n1\r\n"
    "--b\r\nContent-Disposition: attachment; filename=\"=?ISO-2022-JP?B?GyRCST08KBsoQi50eHQ=?=\"\r\n\r\n2\r\n"
    "--b\r\nContent-Disposition: attachment; filename*=utf-8''%E8%A6%8B%E7%A9%8D.txt\r\n\r\n3\r\n"
    "--b\r\nContent-Disposition: attachment;\r\n filename*0*=UTF-8''%E6%97%A5%E6%9C%AC;\r\n\tfilename*1*=%E8%AA%9E.pdf\r\n"
    "\r\n4\r\n"
    "--b\r\nContent-Disposition: attachment;\r\n filename=\"=?UTF-8?B?5pel5pys6Kqe44Gu?= =?UTF-8?B?44OV44Kh44Kk44OrLnR4dA==?=\"\r\n"
    "\r\n5\r\n"
    "--b--\r\n";
const char* const kJapaneseList[] = {"添付.txt", "表示.txt", "見積.txt", "日本語.pdf", "日本語のファイル.txt"};

// The bytes of the file at the host (Shift-JIS) path `path`.
std::string HostFileBytes(const std::string& path) {
  std::string native;
  return NativePath(path, native) ? ReadBytes(native) : "<no path>";
}

// The real dialog on Windows (user32 under Wine), the layer's on POSIX:
// what it shows, read back through the platform's messages; then Close.
TEST(AttachmentDialog, ShowsTheTemplateAndListsJapaneseNames) {
  ScratchDir dir;
  const std::string path = dir.File("zel00002.wml");
  WriteBytes(path, kJapaneseNames);
  DialogRun run(path);
  const WindowHandle dialog = WaitForDialog(ZEL_IDD_ATTACHMENT, kWait);
  ASSERT_NE(dialog, 0u);
  zeluiWindowInfo info{};
  ASSERT_TRUE(DescribeWindow(dialog, info));
  char title[64];
  WindowTextOf(dialog, title, sizeof title);
  EXPECT_STREQ(title, "添付ファイル一覧");
  EXPECT_EQ(info.width, 154);
  EXPECT_EQ(info.height, 88);
  EXPECT_STREQ(info.font, "ＭＳ Ｐゴシック");
  EXPECT_EQ(info.fontPoints, 12);
  const struct {
    int id, kind;
    const char* text;
    std::uint32_t style;  // bits that must be set
    int x, y, width, height;
  } controls[] = {
      {ZEL_IDC_ATTACH_SAVE, ZELUI_KIND_BUTTON, "保存(&S)", kBsDefPushButton, 105, 7, 42, 14},
      {ZELUI_IDCANCEL, ZELUI_KIND_BUTTON, "閉じる", 0, 105, 24, 42, 14},
      {ZEL_IDC_ATTACH_LIST, ZELUI_KIND_LISTBOX, "", kLbsNotify | kLbsNoIntegralHeight, 7, 7, 94, 74},  // user32 drops an unneeded scroll bar
  };
  for (int i = 0; i < 3; ++i) {
    const WindowHandle control = ChildWindowAt(dialog, i);
    ASSERT_TRUE(DescribeWindow(control, info));
    char text[64];
    WindowTextOf(control, text, sizeof text);
    EXPECT_EQ(info.id, controls[i].id);
    EXPECT_EQ(info.kind, controls[i].kind);
    EXPECT_STREQ(text, controls[i].text);
    EXPECT_EQ(info.style & controls[i].style, controls[i].style) << i;
    EXPECT_EQ(info.x, controls[i].x);
    EXPECT_EQ(info.y, controls[i].y);
    EXPECT_EQ(info.width, controls[i].width);
    EXPECT_EQ(info.height, controls[i].height);
  }
  ASSERT_TRUE(DescribeWindow(DialogItem(dialog, ZEL_IDC_ATTACH_LIST), info));
  EXPECT_EQ(info.count, 5);
  EXPECT_EQ(info.selection, 0);
  std::string listed[5];
  for (int i = 0; i < 5; ++i) {
    char name[kPathSize] = {};
    ASSERT_LT(SendItemMessage(dialog, ZEL_IDC_ATTACH_LIST, kLbGetTextLen, i, 0), MessageResult{kPathSize});
    SendItemMessage(dialog, ZEL_IDC_ATTACH_LIST, kLbGetText, i, reinterpret_cast<MessageLong>(name));
    EXPECT_STREQ(name, kJapaneseList[i]);
    listed[i] = name;
  }
  ASSERT_TRUE(PostWindowMessage(dialog, kWmCommand, CommandParam(kIdCancel, kBnClicked), 0));
  EXPECT_EQ(run.result(), 0);
  // Each part saved under its listed name, as Save does with the name the
  // user keeps (the platform's own Save dialog is driven on POSIX below).
  HostPartFiles files;
  MailFile mail(files);
  ASSERT_TRUE(mail.open(path));
  mail.parse();
  mail.close();
  for (int i = 0; i < 5; ++i) {
    const std::string saved = JoinPath(dir.Path(), listed[i]);  // a host (Shift-JIS) path
    ASSERT_EQ(mail.savePart(i + 1, saved), 1) << saved;
    EXPECT_EQ(HostFileBytes(saved), std::to_string(i + 1));  // a text part as its sender's file
  }
}

#ifndef _WIN32
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
    "--b\r\nContent-Disposition: attachment; filename*=UTF-8''%E8%A6%8B%E7%A9%8D.txt\r\n\r\nddd\r\n"
    "--b--\r\n";

TEST(AttachmentDialog, ListSaveOverwriteAndClose) {
  ScratchDir dir;
  const std::string mail = dir.File("zel00001.wml");
  WriteBytes(mail, kMessage);
  DialogRun run(mail);
  const zeluiWindow dialog = zeluiWaitDialog(0, ZEL_IDD_ATTACHMENT, kWait);
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
  ASSERT_EQ(info.count, 4);
  EXPECT_EQ(info.selection, 0);
  char name[300];
  const char* names[] = {"a.txt", "添付.txt", "c.txt", "見積.txt"};
  for (int i = 0; i < 4; ++i) {
    zeluiListText(list, i, name, sizeof name);
    EXPECT_STREQ(name, names[i]);
  }

  // Save the second attachment (part 2) under a path of our choice.
  const std::string target = dir.File("saved.txt");
  const auto save = [&](int entry, const char* path) {
    ASSERT_EQ(zeluiSelectEntry(list, entry), 1);
    ASSERT_EQ(zeluiPressButton(dialog, ZEL_IDC_ATTACH_SAVE), 1);
    const zeluiWindow box = zeluiWaitDialog(0, ZELUI_SAVE_DIALOG, kWait);
    ASSERT_NE(box, 0u);
    EXPECT_EQ(Text(box), "添付ファイルを保存");
    EXPECT_EQ(Text(zeluiGetDlgItem(box, ZELUI_SAVE_NAME)), names[entry]);
    ASSERT_EQ(zeluiAnswerSave(box, path), 1);
    ASSERT_EQ(zeluiWaitGone(box, kWait), 1);
  };
  save(1, target.c_str());
  // The RFC 2231 name is offered as it is listed, and saved under it.
  const std::string estimate = JoinPath(dir.Path(), "見積.txt");
  save(3, estimate.c_str());
  // The next dialog (the question below) proves the save has run; here a
  // second Save cancelled in its Save dialog changes nothing either.
  save(0, nullptr);

  // Saving onto the existing file asks first: No keeps it, Yes replaces it.
  for (const int answer : {ZELUI_IDNO, ZELUI_IDYES}) {
    save(0, target.c_str());
    const zeluiWindow question = zeluiWaitDialog(0, ZELUI_MESSAGE_BOX, kWait);
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
  EXPECT_EQ(HostFileBytes(estimate), "ddd");
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
  const zeluiWindow dialog = zeluiWaitDialog(0, ZEL_IDD_ATTACHMENT, kWait);
  ASSERT_NE(dialog, 0u);
  zeluiWindowInfo info{};
  ASSERT_EQ(zeluiGetInfo(zeluiGetDlgItem(dialog, ZEL_IDC_ATTACH_LIST), &info), 1);
  EXPECT_EQ(info.count, 0);
  ASSERT_EQ(zeluiPressButton(dialog, ZEL_IDC_ATTACH_SAVE), 1);
  ASSERT_EQ(zeluiPressButton(dialog, ZELUI_IDCANCEL), 1);
  EXPECT_EQ(run.result(), 0);
  EXPECT_EQ(zeluiFindDialog(0, ZELUI_SAVE_DIALOG), 0u);
}

#endif  // !_WIN32

}  // namespace
}  // namespace zel::test
