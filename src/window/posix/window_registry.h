// The in-process message layer of the POSIX backend: its windows, classes
// and per-thread queues, shared by window_posix.cpp (windows, messages,
// loop), dialog_posix.cpp (dialogs and controls), thread_posix.cpp and
// window_host.cpp (the zelui* functions of include/zelpost_ui.h).
//
// One mutex guards every record. Window procedures always run without it,
// on the window's owner thread. The fields a record is created with
// (handle, kind, owner, procedures, id, parent) never change afterwards and
// may be read without the mutex.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "window/dialog.h"
#include "window/window.h"

namespace zel::layer {

struct Queue;

// A message sent to another thread, waiting there until it is handled.
struct SentMessage {
  Message message;
  MessageResult result = 0;
  bool done = false;
  std::shared_ptr<Queue> sender;  // woken when done
};

// The queue of one thread: messages sent to it, messages posted to it and
// its quit request. The thread waits on `wake` for any of them.
struct Queue {
  unsigned thread = 0;  // number of the thread in the layer, from 1
  std::condition_variable wake;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::deque<Message> posted;
  bool quit = false;
  int quitCode = 0;
  bool alive = true;  // false once the thread has ended
};

enum class WindowKind : int {
  kClass = ZELUI_KIND_WINDOW,
  kDialog = ZELUI_KIND_DIALOG,
  kStatic = ZELUI_KIND_STATIC,
  kEdit = ZELUI_KIND_EDIT,
  kButton = ZELUI_KIND_BUTTON,
  kProgressBar = ZELUI_KIND_PROGRESS,
  kListBox = ZELUI_KIND_LISTBOX,
};

struct ListEntry {
  std::string text;
  MessageLong data = 0;
};

struct WindowRecord {
  WindowHandle handle = 0;
  WindowKind kind = WindowKind::kClass;
  std::shared_ptr<Queue> owner;
  WindowHandle parent = 0;
  WindowProc proc = nullptr;          // windows of a class
  DialogProc dialogProc = nullptr;    // dialogs
  std::string className;              // lower case
  int id = kIdStatic;                 // control id; a dialog's dialog id
  std::uint64_t sequence = 0;         // creation order
  // Changed under the mutex:
  std::vector<WindowHandle> children;  // every window created with this parent
  std::string text;
  std::uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  void* data = nullptr;
  bool visible = false;
  bool destroying = false;
  // Dialogs:
  bool ready = false;  // WM_INITDIALOG has run
  bool ended = false;  // EndModalDialog was called
  std::intptr_t endResult = 0;
  std::string fontFace;
  int fontPoints = 0;
  // Controls:
  int rangeLow = 0, rangeHigh = 100, position = 0;
  std::vector<ListEntry> entries;
  int selection = -1;
  bool redraw = true;
};

struct Registry {
  std::mutex mutex;
  std::condition_variable changed;  // a dialog became ready or a window went
  std::unordered_map<WindowHandle, std::shared_ptr<WindowRecord>> windows;
  std::map<std::string, WindowProc> classes;  // lower-case name -> procedure
  std::uint32_t nextHandle = 0x10000;         // small numbers are never windows
  std::uint64_t nextSequence = 1;
};

// The process-wide registry (never destroyed, so threads ending after the
// static destructors still find it).
Registry& TheRegistry();

// The calling thread's queue, created on its first use; at thread exit the
// queue is closed: sends waiting on it return 0 and its windows are removed
// without further messages.
std::shared_ptr<Queue> CurrentQueue();

// Sets the calling thread's last error (LastWindowError).
void SetLastWindowError(unsigned long error);

// The live record of `window`, or null. The mutex must be held.
std::shared_ptr<WindowRecord> FindLocked(WindowHandle window);

// Gives `record` a handle, enters it and links it to its parent. The mutex
// must be held. Returns the handle.
WindowHandle AddWindowLocked(const std::shared_ptr<WindowRecord>& record);

// Runs the procedure of `record` for one message on the calling thread
// (its owner); the mutex must not be held.
MessageResult Deliver(const std::shared_ptr<WindowRecord>& record, unsigned message,
                      MessageParam wParam, MessageLong lParam);

// The dialog and control procedures of dialog_posix.cpp.
MessageResult DeliverToDialog(const std::shared_ptr<WindowRecord>& record, unsigned message,
                              MessageParam wParam, MessageLong lParam);
MessageResult DeliverToControl(const std::shared_ptr<WindowRecord>& record, unsigned message,
                               MessageParam wParam, MessageLong lParam);

// Handles the messages sent to the calling thread (`self`) until `done()`
// holds, waiting on its queue in between. `lock` holds the mutex.
template <class Done>
void WaitHandlingSent(std::unique_lock<std::mutex>& lock, Queue& self, Done done);

// Handles the oldest message sent to `self`; `lock` holds the mutex and
// holds it again on return.
void HandleOneSent(std::unique_lock<std::mutex>& lock, Queue& self);

template <class Done>
void WaitHandlingSent(std::unique_lock<std::mutex>& lock, Queue& self, Done done) {
  while (!done()) {
    if (!self.sent.empty()) {
      HandleOneSent(lock, self);
    } else {
      self.wake.wait(lock);
    }
  }
}

// Copies `text` into `buffer` (`size` bytes, NUL included), cut at a
// Shift-JIS character boundary. Returns the length copied (0 for size 0).
std::size_t CopyTextOut(const std::string& text, char* buffer, std::size_t size);

// The newest ready dialog of `thread` (0: any) with dialog id `dialogId`
// (0: any), or 0. The mutex must be held.
WindowHandle FindDialogLocked(unsigned thread, int dialogId);

}  // namespace zel::layer
