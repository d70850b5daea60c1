// The window-message layer: sends, posts, quit, classes, parents,
// destruction and WM_COPYDATA, on the real user32 (Wine) and the POSIX
// stand-in alike.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "window/thread.h"
#include "window/window.h"

namespace zel::test {
namespace {

constexpr unsigned kPing = kWmUser + 1;     // answered with wParam + 1
constexpr unsigned kRelay = kWmUser + 2;    // sends kPing to the window in lParam
constexpr unsigned kQuitNow = kWmUser + 3;  // posts the quit message
constexpr char kClass[] = "zelLayerTestClass";

// What the test windows saw, in order: "message window" per entry.
std::vector<std::string> seen;
std::atomic<std::thread::id> pingThread;

MessageResult TestProc(WindowHandle window, unsigned message, MessageParam wParam,
                       MessageLong lParam) {
  switch (message) {
    case kPing:
      pingThread = std::this_thread::get_id();
      return static_cast<MessageResult>(wParam + 1);
    case kRelay:
      return SendWindowMessage(static_cast<WindowHandle>(lParam), kPing, wParam, 0);
    case kQuitNow:
      PostQuit(static_cast<int>(wParam));
      return 0;
    case kWmCopyData: {
      const auto* data = reinterpret_cast<const CopyData*>(lParam);
      seen.push_back("copy " + std::to_string(data->tag) + " " + std::to_string(data->size) + " " +
                     std::string(static_cast<const char*>(data->data)));
      return 1;
    }
    case kWmDestroy:
    case kWmNcDestroy: {
      char title[32];
      WindowTextOf(window, title, sizeof title);
      seen.push_back((message == kWmDestroy ? "destroy " : "ncdestroy ") + std::string(title));
      return 0;
    }
    default:
      return DefaultWindowProc(window, message, wParam, lParam);
  }
}

// Registers the test class for one test and removes it (and the windows
// left) afterwards.
class MessageLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    ASSERT_TRUE(RegisterWindowClass(kClass, &TestProc, kCsHRedraw | kCsVRedraw));
  }
  void TearDown() override {
    for (const WindowHandle w : windows_) DestroyWindowTree(w);
    EXPECT_TRUE(UnregisterWindowClass(kClass));
  }
  WindowHandle Make(const char* title, WindowHandle parent = 0, std::uint32_t style = kWsPopupWindow) {
    const WindowHandle w = CreateHiddenWindow(kClass, title, style, 0, 0, 200, 200, parent);
    if (parent == 0 && w != 0) windows_.push_back(w);
    return w;
  }
  // Runs the calling thread's loop until the quit message; returns its code.
  static int Loop(std::vector<unsigned>* posted = nullptr) {
    Message m;
    while (GetNextMessage(m)) {
      if (posted != nullptr && m.message >= kWmUser) posted->push_back(static_cast<unsigned>(m.wParam));
      DispatchWindowMessage(m);
    }
    return static_cast<int>(m.wParam);
  }
  std::vector<WindowHandle> windows_;
};

TEST_F(MessageLayer, SentMessageRunsOnTheOwnerThreadAndBlocksItsSender) {
  const WindowHandle w = Make("main");
  ASSERT_NE(w, 0u);
  // To the own thread: handled at once, no loop needed.
  EXPECT_EQ(SendWindowMessage(w, kPing, 41, 0), 42);
  EXPECT_EQ(pingThread.load(), std::this_thread::get_id());

  MessageResult result = 0;
  std::thread::id handledOn;
  std::thread worker([&] {
    result = SendWindowMessage(w, kPing, 9, 0);
    handledOn = pingThread.load();  // the send has returned: the handler ran
    PostWindowMessage(w, kQuitNow, 5, 0);
  });
  EXPECT_EQ(Loop(), 5);
  worker.join();
  EXPECT_EQ(result, 10);
  EXPECT_EQ(handledOn, std::this_thread::get_id());
}

TEST_F(MessageLayer, SendersBlockedOnEachOtherStillHandleSentMessages) {
  const WindowHandle mine = Make("mine");
  std::atomic<WindowHandle> theirs{0};
  std::atomic<bool> ready{false};
  int theirExit = -1;
  std::thread other([&] {
    const WindowHandle w = CreateHiddenWindow(kClass, "theirs", kWsPopupWindow, 0, 0, 1, 1, 0);
    theirs = w;
    ready = true;
    if (w == 0) return;  // nothing to loop for
    theirExit = Loop();
    DestroyWindowTree(w);
  });
  while (!ready) std::this_thread::yield();
  if (theirs == 0) other.join();
  ASSERT_NE(theirs.load(), 0u);
  // Main sends to the other thread, whose handler sends back to main while
  // main is still blocked in its own send.
  EXPECT_EQ(SendWindowMessage(theirs, kRelay, 7, static_cast<MessageLong>(mine)), 8);
  EXPECT_EQ(pingThread.load(), std::this_thread::get_id());
  EXPECT_EQ(SendWindowMessage(theirs, kQuitNow, 3, 0), 0);
  other.join();
  EXPECT_EQ(theirExit, 3);
}

TEST_F(MessageLayer, PostedMessagesKeepTheirOrderAndQuitComesLast) {
  const WindowHandle w = Make("main");
  PostWindowMessage(w, kPing, 1, 0);
  PostWindowMessage(0, kPing, 2, 0);  // a message for the thread itself
  PostQuit(7);
  PostWindowMessage(w, kPing, 3, 0);
  std::vector<unsigned> order;
  EXPECT_EQ(Loop(&order), 7);
  EXPECT_EQ(order, (std::vector<unsigned>{1, 2, 3}));
}

TEST_F(MessageLayer, ClassesAndParentsAreChecked) {
  const WindowHandle w = Make("main");
  const WindowHandle gone = Make("gone");
  ASSERT_TRUE(DestroyWindowTree(gone));
  EXPECT_FALSE(RegisterWindowClass(kClass, &TestProc, 0));
  EXPECT_EQ(LastWindowError(), kErrorClassAlreadyExists);
  EXPECT_FALSE(UnregisterWindowClass(kClass));  // a window of it still exists
  EXPECT_FALSE(UnregisterWindowClass("zelNoSuchClass"));
  EXPECT_EQ(CreateHiddenWindow("zelNoSuchClass", "x", kWsPopupWindow, 0, 0, 1, 1, 0), 0u);
  for (const WindowHandle parent : {WindowHandle{0x1234}, gone}) {
    EXPECT_EQ(Make("orphan", parent), 0u) << parent;
    EXPECT_EQ(LastWindowError(), kErrorInvalidWindowHandle) << parent;
  }
  // A destroyed window takes no messages.
  EXPECT_FALSE(IsLiveWindow(gone));
  EXPECT_EQ(SendWindowMessage(gone, kPing, 1, 0), 0);
  EXPECT_FALSE(PostWindowMessage(gone, kPing, 1, 0));
  EXPECT_FALSE(DestroyWindowTree(gone));
  EXPECT_TRUE(IsLiveWindow(w));
}

TEST_F(MessageLayer, DestroyTakesChildrenAndOwnedWindowsAlong) {
  const WindowHandle top = Make("top");
  const WindowHandle child = Make("child", top, kWsChild);
  const WindowHandle grandchild = Make("grandchild", child, kWsChild);
  const WindowHandle owned = Make("owned", top);
  ASSERT_TRUE(child != 0 && grandchild != 0 && owned != 0);
  seen.clear();
  EXPECT_TRUE(DestroyWindowTree(top));
  for (const WindowHandle w : {top, child, grandchild, owned}) EXPECT_FALSE(IsLiveWindow(w)) << w;
  // Each window is told before it goes; the last word is the top window's.
  EXPECT_EQ(seen.size(), 8u);
  EXPECT_EQ(seen.back(), "ncdestroy top");
  for (const char* name : {"child", "grandchild", "owned"}) {
    EXPECT_NE(std::find(seen.begin(), seen.end(), std::string("destroy ") + name), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), std::string("ncdestroy ") + name), seen.end());
  }
}

TEST_F(MessageLayer, CopyDataIsReadWhileTheSenderWaits) {
  const WindowHandle w = Make("main");
  MessageResult result = 0;
  std::thread worker([&] {
    char record[2056] = "record on the worker's stack";
    result = SendCopyData(w, 0, 5, record, sizeof record);
    PostWindowMessage(w, kQuitNow, 0, 0);
  });
  Loop();
  worker.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"copy 5 2056 record on the worker's stack"}));
}

TEST_F(MessageLayer, JoiningAThreadHandlesWhatItSends) {
  const WindowHandle w = Make("main");
  struct Job {
    WindowHandle window;
    MessageResult result;
  } job{w, 0};
  // The worker's send is handled while the main thread waits in JoinThread.
  const ThreadHandle thread = StartThread(
      [](void* p) {
        auto* j = static_cast<Job*>(p);
        j->result = SendWindowMessage(j->window, kPing, 1, 0);
      },
      &job);
  ASSERT_NE(thread, 0u);
  JoinThread(thread);
  EXPECT_EQ(job.result, 2);
}

}  // namespace
}  // namespace zel::test
