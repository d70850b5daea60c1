// Index listing into a list box the host creates: on POSIX through the
// message layer's public header, on Windows a real LISTBOX (user32 under
// Wine). Order, columns with Japanese text, item data, the message
// sequence, and the calls that leave the list box alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "index/mailbox_index.h"
#include "index_support.h"
#include "window/dialog.h"
#include "zelpost.h"
#include "zelpost_ui.h"

namespace zel::test {
namespace {

// A list box of the host and what it shows.
class HostListBox {
 public:
#ifdef _WIN32
  HostListBox() : window_(CreateListBox(0)) {}
  ~HostListBox() { DestroyWindowTree(window_); }
  int count() const { return static_cast<int>(SendWindowMessage(window_, kLbGetCount, 0, 0)); }
  std::string text(int i) const {
    std::string out(static_cast<std::size_t>(SendWindowMessage(window_, kLbGetTextLen, i, 0)) + 1, '\0');
    out.resize(static_cast<std::size_t>(
        SendWindowMessage(window_, kLbGetText, i, reinterpret_cast<MessageLong>(out.data()))));
    return out;
  }
  std::intptr_t data(int i) const { return SendWindowMessage(window_, kLbGetItemData, i, 0); }
  void* handle() const { return reinterpret_cast<void*>(window_); }

 private:
  WindowHandle window_;
#else
  HostListBox() : window_(zeluiCreateListBox()) {}
  ~HostListBox() { zeluiDestroyWindow(window_); }
  int count() const {
    zeluiWindowInfo info{};
    zeluiGetInfo(window_, &info);
    return info.count;
  }
  std::string text(int i) const {
    char buffer[512];
    return zeluiListText(window_, i, buffer, sizeof buffer) < 0 ? "<none>" : buffer;
  }
  std::intptr_t data(int i) const {
    intptr_t value = -99;
    zeluiListData(window_, i, &value);
    return value;
  }
  void* handle() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window_)); }

 private:
  zeluiWindow window_;
#endif
 public:
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (int i = 0; i < count(); ++i) out.push_back(text(i));
    return out;
  }
};

const std::string kSubject30 = "abcdefghijklmnopqrstuvwxyz0123";  // 30 bytes
const std::string kJapanese = "あいうえおかきくけこ";              // 20 bytes

// An index of three records, one marked, one damaged line.
std::string SampleIndex() {
  return OnDisk(Record("00000012", kSubject30, "taro@x", "2000/12/05(火) 10:00:00", "<a@x>") + "\n" +
                Record("*0000020", "removed", "", "", "") + "\n" + "damaged line\n" +
                Record("00000031", kJapanese, "山田太郎 <yamada@example.jp>", "", "") + "\n" +
                Record("00000047", "", "", "", "") + "\n");
}

TEST(IndexListing, FileOrderReversedColumnsAndItemData) {
  ScratchDir dir;
  const std::string index = dir.File("box.dir");
  WriteBytes(index, SampleIndex());
  HostListBox list;
  ASSERT_EQ(zelPrintIndex(list.handle(), index.c_str(), "Subject", -1, 20, 16, 24), 1);
  const std::string blank = "　 ";
  const std::vector<std::string> inOrder = {
      blank + "abcdefghijklmnopqrst" + " " + "taro@x          " + " " + "2000/12/05(火) 10:00:00 " + "\t00000012",
      blank + kJapanese + " " + "山田太郎 <yamada" + " " + std::string(24, ' ') + "\t00000031",
      blank + std::string(20, ' ') + " " + std::string(16, ' ') + " " + std::string(24, ' ') + "\t00000047",
  };
  EXPECT_EQ(list.texts(), inOrder);
  EXPECT_EQ(list.data(0), 12);
  EXPECT_EQ(list.data(1), 31);
  EXPECT_EQ(list.data(2), 47);

  // Inserted at the top: newest first. Widths cut at a character boundary
  // and padded; a width below 0 counts as 0.
  ASSERT_EQ(zelPrintIndex(list.handle(), index.c_str(), nullptr, 0, 9, 5, -3), 1);
  EXPECT_EQ(list.texts(), (std::vector<std::string>{
                              blank + std::string(9, ' ') + " " + std::string(5, ' ') + " " + "\t00000047",
                              blank + "あいうえ " + " " + "山田 " + " " + "\t00000031",
                              blank + "abcdefghi" + " " + "taro@" + " " + "\t00000012",
                          }));
  EXPECT_EQ(list.data(0), 47);
  EXPECT_EQ(list.data(2), 12);
}

TEST(IndexListing, RefusedCallsLeaveTheListAlone) {
  ScratchDir dir;
  const std::string index = dir.File("box.dir");
  WriteBytes(index, SampleIndex());
  HostListBox list;
  ASSERT_EQ(zelPrintIndex(list.handle(), index.c_str(), "", -1, 4, 4, 4), 1);
  ASSERT_EQ(list.count(), 3);
  for (const char* key : {"subject", "Body", "From "}) {
    EXPECT_EQ(zelPrintIndex(list.handle(), index.c_str(), key, -1, 4, 4, 4), 0) << key;
  }
  EXPECT_EQ(zelPrintIndex(list.handle(), dir.File("missing.dir").c_str(), "From", -1, 4, 4, 4), 0);
  EXPECT_EQ(zelPrintIndex(list.handle(), nullptr, "Date", -1, 4, 4, 4), 0);
  EXPECT_EQ(zelPrintIndex(nullptr, index.c_str(), "Date", -1, 4, 4, 4), 0);
  EXPECT_EQ(list.count(), 3);

  // An index of marked records only empties the list.
  WriteBytes(index, OnDisk("*0000001\x01" "00000000\x01s\x01" "f\x01" "d\x01" "i\n"));
  EXPECT_EQ(zelPrintIndex(list.handle(), index.c_str(), "Date", -1, 4, 4, 4), 1);
  EXPECT_EQ(list.count(), 0);
}

// A list box that records the messages it gets and refuses the second
// insertion, as a full list box does.
std::vector<std::string> received;
int insertions = 0;
MessageResult SpyProc(WindowHandle window, unsigned message, MessageParam wParam, MessageLong lParam) {
  switch (message) {
    case kWmSetRedraw: received.push_back("redraw " + std::to_string(wParam)); return 0;
    case kLbResetContent: received.push_back("reset"); return 0;
    case kLbInsertString:
      received.push_back("insert " + std::to_string(static_cast<MessageLong>(wParam)));
      return ++insertions == 2 ? kLbErr : insertions - 1;
    case kLbSetItemData:
      received.push_back("data " + std::to_string(static_cast<MessageLong>(wParam)) + " " + std::to_string(lParam));
      return 0;
    default: return DefaultWindowProc(window, message, wParam, lParam);
  }
}

TEST(IndexListing, MessageSequenceAndNoDataAfterAFailedInsertion) {
  ScratchDir dir;
  const std::string index = dir.File("box.dir");
  WriteBytes(index, SampleIndex());
  ASSERT_TRUE(RegisterWindowClass("zelListSpy", SpyProc, 0));
  const WindowHandle spy = CreateHiddenWindow("zelListSpy", "", kWsPopup, 0, 0, 10, 10, 0);
  ASSERT_NE(spy, 0u);
  received.clear();
  insertions = 0;
  EXPECT_EQ(zelPrintIndex(reinterpret_cast<void*>(spy), index.c_str(), "From", -1, 1, 1, 1), 1);
  EXPECT_EQ(received, (std::vector<std::string>{"redraw 0", "reset", "insert -1", "data 0 12", "insert -1",
                                                "insert -1", "data 2 47", "redraw 1"}));
  DestroyWindowTree(spy);
  UnregisterWindowClass("zelListSpy");
}

}  // namespace
}  // namespace zel::test
