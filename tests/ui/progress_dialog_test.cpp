// The progress dialogs: what they show (ids, texts, fonts, layout), the
// total and the progress records a worker sends, and Cancel. On Windows the
// dialogs come from the resources of dialogs.rc, on POSIX from the layer's
// templates; both must show the same.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/recv_progress.h"
#include "ui/dialog_ids.h"
#include "ui/progress_dialog.h"
#include "window/dialog.h"

namespace zel::test {
namespace {

// The control window's part: the worker sends kTotal (wParam 4, the
// total), which is posted on to the dialog; Cancel arrives as
// kProgressNotify; kDone ends the loop.
constexpr unsigned kTotal = kWmUser + 100;
constexpr unsigned kDone = kWmUser + 7;
constexpr char kNotifyClass[] = "zelProgressTestClass";

WindowHandle dialogOfTest = 0;
std::vector<std::pair<MessageParam, MessageLong>> notified;

MessageResult NotifyProc(WindowHandle window, unsigned message, MessageParam wParam,
                         MessageLong lParam) {
  if (message == kTotal && wParam == kNotifyTotal) {
    PostWindowMessage(dialogOfTest, kProgressNotify, kNotifyTotal, lParam);
  } else if (message == kProgressNotify) {
    notified.emplace_back(wParam, lParam);
    PostQuit(0);
  } else if (message == kDone) {
    PostQuit(0);
  }
  return DefaultWindowProc(window, message, wParam, lParam);
}

class ProgressDialogs : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    notified.clear();
    ASSERT_TRUE(RegisterWindowClass(kNotifyClass, &NotifyProc, 0));
    notify_ = CreateHiddenWindow(kNotifyClass, "notify", kWsPopupWindow, 0, 0, 10, 10, 0);
    ASSERT_NE(notify_, 0u);
    dialogOfTest = dialog_ = CreateProgressDialog(notify_, GetParam());
    ASSERT_NE(dialog_, 0u);
  }
  void TearDown() override {
    DestroyWindowTree(notify_);  // the dialog goes with it
    EXPECT_FALSE(IsLiveWindow(dialog_));
    EXPECT_TRUE(UnregisterWindowClass(kNotifyClass));
  }
  static void Loop() {
    Message m;
    while (GetNextMessage(m)) DispatchWindowMessage(m);
  }
  bool WithBar() const { return GetParam() != 1; }
  WindowHandle notify_ = 0;
  WindowHandle dialog_ = 0;
};

std::string Text(WindowHandle window) {
  char text[1100];
  WindowTextOf(window, text, sizeof text);
  return text;
}

struct ShownControl {
  int kind;
  int id;
  const char* text;
  std::uint32_t style;  // bits that must be set
  int x, y, width, height;
};
struct ShownDialog {
  int executeType;
  int dialogId;
  const char* title;
  int width, height, points;
  std::vector<ShownControl> controls;
};

const ShownDialog kShown[] = {
    {1, 229, "zelpostw", 134, 80, 12,
     {{ZELUI_KIND_BUTTON, 2, "キャンセル", kBsDefPushButton, 40, 58, 50, 14},
      {ZELUI_KIND_STATIC, -1, "受信中 ：", kSsRight, 5, 10, 28, 8},
      {ZELUI_KIND_STATIC, 1000, "000 / 000", 0, 35, 10, 60, 8},
      {ZELUI_KIND_STATIC, -1, "件名 ：", kSsRight, 5, 25, 21, 8},
      {ZELUI_KIND_STATIC, 1002, "", 0, 35, 25, 95, 8},
      {ZELUI_KIND_STATIC, -1, "差出人 ：", kSsRight, 5, 40, 28, 8},
      {ZELUI_KIND_STATIC, 1001, "", 0, 35, 40, 95, 8}}},
    {2, 232, "zelsend", 287, 55, 9,
     {{ZELUI_KIND_STATIC, 1000, "000/000", kSsCenter, 7, 7, 29, 10},
      // (comctl32 turns the bar's border into an edge style of its own)
      {ZELUI_KIND_PROGRESS, 1006, "", 0, 43, 7, 237, 10},
      {ZELUI_KIND_EDIT, 1002, "", kEsReadOnly | kEsAutoHScroll, 7, 21, 227, 12},
      {ZELUI_KIND_EDIT, 1001, "", kEsReadOnly | kEsAutoHScroll, 7, 36, 227, 12},
      {ZELUI_KIND_BUTTON, 2, "ｷｬﾝｾﾙ", 0, 241, 21, 39, 14}}},
};

TEST_P(ProgressDialogs, ShowTheirIdsTextsFontsAndLayout) {
  // The literals are Shift-JIS, byte for byte.
  EXPECT_STREQ("ｷｬﾝｾﾙ", "\xB7\xAC\xDD\xBE\xD9");
  EXPECT_STREQ("キャンセル", "\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B");
  const ShownDialog& want = kShown[WithBar() ? 1 : 0];
  zeluiWindowInfo info;
  ASSERT_TRUE(DescribeWindow(dialog_, info));
  EXPECT_EQ(info.kind, ZELUI_KIND_DIALOG);
  EXPECT_EQ(info.id, want.dialogId);
  EXPECT_EQ(Text(dialog_), want.title);
  EXPECT_EQ(info.width, want.width);
  EXPECT_EQ(info.height, want.height);
  EXPECT_STREQ(info.font, "ＭＳ Ｐゴシック");
  EXPECT_EQ(info.fontPoints, want.points);
  EXPECT_EQ(info.visible, 1);
  const std::uint32_t frame = kDsModalFrame | kWsPopup | kWsCaption | kWsSysMenu;
  EXPECT_EQ(info.style & frame, frame);
  for (std::size_t i = 0; i < want.controls.size(); ++i) {
    const ShownControl& c = want.controls[i];
    const WindowHandle control = ChildWindowAt(dialog_, static_cast<int>(i));
    ASSERT_TRUE(DescribeWindow(control, info)) << i;
    EXPECT_EQ(info.kind, c.kind) << i;
    EXPECT_EQ(info.id, c.id) << i;
    EXPECT_EQ(Text(control), c.text) << i;
    EXPECT_EQ(info.style & c.style, c.style) << i;
    if (c.kind == ZELUI_KIND_STATIC) {
      EXPECT_EQ(info.style & (kSsCenter | kSsRight), c.style) << i;  // the alignment
    }
    EXPECT_EQ((std::vector<int>{info.x, info.y, info.width, info.height}),
              (std::vector<int>{c.x, c.y, c.width, c.height})) << i;
    EXPECT_STREQ(info.font, "ＭＳ Ｐゴシック") << i;
  }
  EXPECT_EQ(ChildWindowAt(dialog_, static_cast<int>(want.controls.size())), 0u);
}

// One progress record as the POP3 client builds it.
RecvProgress Record(int current, int total, const char* subject, const char* from) {
  RecvProgress r{};
  r.totalCount = total;
  r.retrievedCount = current;
  std::strncpy(r.subject, subject, sizeof r.subject - 1);
  std::strncpy(r.from, from, sizeof r.from - 1);
  return r;
}

TEST_P(ProgressDialogs, ShowTheTotalAndEachRecordAWorkerSends) {
  struct Step {
    std::uint32_t tag;
    std::size_t size;
    RecvProgress record;
    const char* counts;  // what the counts show afterwards
    const char* subject;
    int position;
  };
  RecvProgress unterminated;
  std::memset(&unterminated, 'A', sizeof unterminated);
  unterminated.totalCount = 5;
  unterminated.retrievedCount = 4;
  const std::string long1023(1023, 'A');
  const Step steps[] = {
      {5, 2056, Record(1, 5, "テスト件名", "山田 <yamada@example.jp>"), "  1 /   5", "テスト件名", 1},
      {6, 2056, Record(2, 5, "wrong tag", "x"), "  1 /   5", "テスト件名", 1},
      {5, 2055, Record(2, 5, "wrong size", "x"), "  1 /   5", "テスト件名", 1},
      {5, 2056, Record(2, 5, "", ""), "  2 /   5", "", 2},
      {5, 2056, unterminated, "  4 /   5", long1023.c_str(), 4},
      {5, 2056, Record(5, 5, "最後", "末尾"), "  5 /   5", "最後", 5},
  };
  struct Seen {
    std::string counts, subject, from;
    zeluiWindowInfo bar;
  };
  std::vector<Seen> seen;
  std::string afterTotal;
  zeluiWindowInfo barAfterTotal{};
  const WindowHandle notify = notify_;
  const WindowHandle dialog = dialog_;
  std::thread worker([&] {
    SendWindowMessage(notify, kTotal, kNotifyTotal, 5);
    // The total is posted on; it is shown once the dialog's thread pumps.
    while (Text(DialogItem(dialog, ZEL_IDC_COUNTS)) != "  0 /   5") std::this_thread::yield();
    afterTotal = Text(DialogItem(dialog, ZEL_IDC_COUNTS));
    DescribeWindow(DialogItem(dialog, ZEL_IDC_PROGRESS), barAfterTotal);
    for (const Step& step : steps) {
      if (step.tag == kRecvProgressId && step.size == kRecvProgressSize) {
        SendProgress(dialog, step.record);  // as the POP3 client sends it
      } else {
        std::vector<char> block(step.size);
        std::memcpy(block.data(), &step.record, std::min(step.size, sizeof step.record));
        SendCopyData(dialog, 0, step.tag, block.data(), static_cast<std::uint32_t>(step.size));
      }
      Seen s{Text(DialogItem(dialog, ZEL_IDC_COUNTS)), Text(DialogItem(dialog, ZEL_IDC_SUBJECT)),
             Text(DialogItem(dialog, ZEL_IDC_SENDER)), {}};
      DescribeWindow(DialogItem(dialog, ZEL_IDC_PROGRESS), s.bar);
      seen.push_back(s);
    }
    PostWindowMessage(notify, kDone, 0, 0);
  });
  Loop();
  worker.join();
  EXPECT_EQ(afterTotal, "  0 /   5");
  if (WithBar()) {
    EXPECT_EQ((std::pair{barAfterTotal.rangeLow, barAfterTotal.rangeHigh}), (std::pair{0, 5}));
  }
  ASSERT_EQ(seen.size(), std::size(steps));
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].counts, steps[i].counts) << i;
    EXPECT_EQ(seen[i].subject, steps[i].subject) << i;
    if (WithBar()) {
      EXPECT_EQ(seen[i].bar.position, steps[i].position) << i;
    }
  }
  EXPECT_EQ(seen[0].from, "山田 <yamada@example.jp>");
  EXPECT_TRUE(notified.empty());
}

TEST_P(ProgressDialogs, CancelTellsTheNotifyWindowAndCloses) {
#ifdef _WIN32
  PostWindowMessage(dialog_, kWmCommand, CommandParam(kIdCancel, kBnClicked),
                    static_cast<MessageLong>(DialogItem(dialog_, kIdCancel)));
#else
  // A host presses it through the public header.
  ASSERT_EQ(zeluiFindDialog(zeluiThreadId(), WithBar() ? 232 : 229), dialog_);
  ASSERT_EQ(zeluiPressButton(static_cast<zeluiWindow>(dialog_), ZELUI_IDCANCEL), 1);
#endif
  Loop();
  EXPECT_EQ(notified, (std::vector<std::pair<MessageParam, MessageLong>>{{kNotifyCancel, 0}}));
  EXPECT_FALSE(IsLiveWindow(dialog_));
  EXPECT_TRUE(IsLiveWindow(notify_));
}

INSTANTIATE_TEST_SUITE_P(ExecuteType, ProgressDialogs, ::testing::Values(1, 2));

}  // namespace
}  // namespace zel::test
