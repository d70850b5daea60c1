// List boxes: the messages a host's list box takes (zelPrintIndex) behave as
// user32's do; on POSIX the public header reads the same entries back.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "window/dialog.h"

namespace zel::test {
namespace {

struct Entry {
  std::string text;
  MessageLong data;
};

// Entries as the list box's messages report them.
std::vector<Entry> Entries(WindowHandle list) {
  std::vector<Entry> entries;
  const auto count = SendWindowMessage(list, kLbGetCount, 0, 0);
  for (MessageParam i = 0; i < static_cast<MessageParam>(count); ++i) {
    std::string text(static_cast<std::size_t>(SendWindowMessage(list, kLbGetTextLen, i, 0)), '\0');
    std::vector<char> buffer(text.size() + 1);
    SendWindowMessage(list, kLbGetText, i, reinterpret_cast<MessageLong>(buffer.data()));
    entries.push_back({buffer.data(), SendWindowMessage(list, kLbGetItemData, i, 0)});
  }
  return entries;
}

TEST(ListBoxes, MessagesBehaveAsUser32s) {
  const WindowHandle list = CreateListBox(0);
  ASSERT_NE(list, 0u);
  struct Step {
    unsigned message;
    int index;
    const char* text;  // lParam, or null for `data`
    MessageLong data;
    MessageResult result;
  };
  const Step steps[] = {
      {kLbAddString, 0, "b", 0, 0},
      {kLbInsertString, -1, "c", 0, 1},       // -1 appends
      {kLbInsertString, 0, "a", 0, 0},        // a b c
      {kLbInsertString, 9, "x", 0, kLbErr},   // past the end
      {kLbSetItemData, 1, nullptr, 12, 1},
      {kLbSetItemData, 7, nullptr, 5, kLbErr},
      {kLbGetItemData, 7, nullptr, 0, kLbErr},
      {kLbSetCurSel, 2, nullptr, 0, 2},
      {kLbInsertString, 0, "件名　全角", 0, 0},  // the selection moves along
      {kLbGetCurSel, 0, nullptr, 0, 3},
      {kLbDeleteString, 0, nullptr, 0, 3},
      {kLbGetCurSel, 0, nullptr, 0, 2},
      {kLbGetItemData, 1, nullptr, 0, 12},
      {kLbGetTextLen, 5, nullptr, 0, kLbErr},
      {kLbSetCurSel, -1, nullptr, 0, kLbErr},  // clears it, and says LB_ERR
      {kLbGetCurSel, 0, nullptr, 0, kLbErr},
      {kLbInsertString, 1, "日本語", 0, 1},
      {kLbGetCount, 0, nullptr, 0, 4},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& s = steps[i];
    const MessageLong l = s.text != nullptr ? reinterpret_cast<MessageLong>(s.text) : s.data;
    EXPECT_EQ(SendWindowMessage(list, s.message, static_cast<MessageParam>(s.index), l), s.result) << i;
  }
  const std::vector<Entry> entries = Entries(list);
  ASSERT_EQ(entries.size(), 4u);
  const std::vector<std::string> texts = {"a", "日本語", "b", "c"};
  const std::vector<MessageLong> data = {0, 0, 12, 0};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].text, texts[i]) << i;
    EXPECT_EQ(entries[i].data, data[i]) << i;
  }
#ifndef _WIN32
  // The host reads the same entries without a message.
  for (int i = 0; i < 4; ++i) {
    char text[16];
    intptr_t value = -1;
    EXPECT_EQ(zeluiListText(static_cast<zeluiWindow>(list), i, text, sizeof text),
              static_cast<int>(texts[i].size()));
    EXPECT_EQ(text, texts[i]);
    EXPECT_EQ(zeluiListData(static_cast<zeluiWindow>(list), i, &value), 1);
    EXPECT_EQ(value, data[i]);
  }
  char text[16];
  intptr_t value;
  EXPECT_EQ(zeluiListText(static_cast<zeluiWindow>(list), 4, text, sizeof text), -1);
  EXPECT_EQ(zeluiListData(static_cast<zeluiWindow>(list), -1, &value), 0);
  // A cut never ends inside a double-byte character.
  EXPECT_EQ(zeluiListText(static_cast<zeluiWindow>(list), 1, text, 4), 2);
  SendWindowMessage(list, kWmSetRedraw, 0, 0);
  zeluiWindowInfo info;
  ASSERT_EQ(zeluiGetInfo(static_cast<zeluiWindow>(list), &info), 1);
  EXPECT_EQ((std::vector<int>{info.kind, info.count, info.selection, info.redraw}),
            (std::vector<int>{ZELUI_KIND_LISTBOX, 4, -1, 0}));
  // -1 sets the data of every entry, as user32 documents it (Wine's list
  // box refuses it).
  EXPECT_EQ(SendWindowMessage(list, kLbSetItemData, static_cast<MessageParam>(-1), 7), 1);
  for (const Entry& e : Entries(list)) EXPECT_EQ(e.data, 7);
#endif
  EXPECT_EQ(SendWindowMessage(list, kLbResetContent, 0, 0), 0);
  EXPECT_EQ(SendWindowMessage(list, kLbGetCount, 0, 0), 0);
  EXPECT_TRUE(DestroyWindowTree(list));
}

}  // namespace
}  // namespace zel::test
