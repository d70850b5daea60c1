// The zelui* functions of include/zelpost_ui.h: the message layer seen from
// a host. Reads take the registry's mutex and never wait for the dialog's
// thread; presses and answers are posted to it, as a user's clicks are.
// <chrono> itself does not compile with the CP932 execution character set;
// <condition_variable> brings the clocks and durations.
#include <condition_variable>

#include "window/posix/window_registry.h"
#include "zelpost_ui.h"

namespace zel::layer {
namespace {

// Runs `body`, turning any exception into `failure`: nothing may cross the
// C boundary.
template <class Result, class Body>
Result Guarded(Result failure, Body body) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

// Waits until `ready()` holds or `timeoutMs` has passed; `ready` runs with
// the mutex held. Returns its last value.
template <class Ready>
auto WaitFor(int timeoutMs, Ready ready) {
  Registry& r = TheRegistry();
  std::unique_lock lock(r.mutex);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto value = ready();
    if (value || r.changed.wait_until(lock, deadline) == std::cv_status::timeout) return ready();
  }
}

std::shared_ptr<WindowRecord> Find(zeluiWindow window) {
  std::lock_guard lock(TheRegistry().mutex);
  return FindLocked(window);
}

}  // namespace
}  // namespace zel::layer

namespace zel {

WindowHandle WaitForDialog(int dialogId, int timeoutMs) {
  return layer::WaitFor(timeoutMs, [&] { return layer::FindDialogLocked(0, dialogId); });
}

}  // namespace zel

using namespace zel;
using namespace zel::layer;

extern "C" {

unsigned int zeluiThreadId(void) {
  return Guarded(0u, [] { return CurrentQueue()->thread; });
}

zeluiWindow zeluiFindDialog(unsigned int thread, int dialog) {
  std::lock_guard lock(TheRegistry().mutex);
  return static_cast<zeluiWindow>(FindDialogLocked(thread, dialog));
}

zeluiWindow zeluiWaitDialog(unsigned int thread, int dialog, int timeoutMs) {
  return Guarded(0u, [&] {
    return static_cast<zeluiWindow>(WaitFor(timeoutMs, [&] { return FindDialogLocked(thread, dialog); }));
  });
}

int zeluiWaitGone(zeluiWindow window, int timeoutMs) {
  return Guarded(0, [&] { return WaitFor(timeoutMs, [&] { return !FindLocked(window); }) ? 1 : 0; });
}

zeluiWindow zeluiGetDlgItem(zeluiWindow dialog, int id) {
  return Guarded(0u, [&] { return static_cast<zeluiWindow>(DialogItem(dialog, id)); });
}

zeluiWindow zeluiChildAt(zeluiWindow dialog, int index) {
  return Guarded(0u, [&] { return static_cast<zeluiWindow>(ChildWindowAt(dialog, index)); });
}

int zeluiGetInfo(zeluiWindow window, zeluiWindowInfo* info) {
  if (info == nullptr) return 0;
  return Guarded(0, [&] { return DescribeWindow(window, *info) ? 1 : 0; });
}

int zeluiGetText(zeluiWindow window, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return -1;
  return Guarded(-1, [&] {
    std::lock_guard lock(TheRegistry().mutex);
    const auto record = FindLocked(window);
    if (!record) return -1;
    return static_cast<int>(CopyTextOut(record->text, buffer, static_cast<std::size_t>(size)));
  });
}

int zeluiListText(zeluiWindow listBox, int index, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return -1;
  return Guarded(-1, [&] {
    std::lock_guard lock(TheRegistry().mutex);
    const auto record = FindLocked(listBox);
    if (!record || index < 0 || static_cast<std::size_t>(index) >= record->entries.size()) return -1;
    return static_cast<int>(
        CopyTextOut(record->entries[index].text, buffer, static_cast<std::size_t>(size)));
  });
}

int zeluiListData(zeluiWindow listBox, int index, intptr_t* data) {
  if (data == nullptr) return 0;
  return Guarded(0, [&] {
    std::lock_guard lock(TheRegistry().mutex);
    const auto record = FindLocked(listBox);
    if (!record || index < 0 || static_cast<std::size_t>(index) >= record->entries.size()) return 0;
    *data = record->entries[index].data;
    return 1;
  });
}

int zeluiPressButton(zeluiWindow dialog, int id) {
  return Guarded(0, [&] {
    const WindowHandle button = DialogItem(dialog, id);
    const auto record = Find(button);
    if (!record || record->kind != WindowKind::kButton) return 0;
    return PostWindowMessage(dialog, kWmCommand, CommandParam(id, kBnClicked),
                             static_cast<MessageLong>(button))
               ? 1
               : 0;
  });
}

int zeluiSelectEntry(zeluiWindow listBox, int index) {
  return Guarded(0, [&] {
    {
      std::lock_guard lock(TheRegistry().mutex);
      const auto record = FindLocked(listBox);
      if (!record || record->kind != WindowKind::kListBox || index < 0 ||
          static_cast<std::size_t>(index) >= record->entries.size()) {
        return 0;
      }
    }
    return PostWindowMessage(listBox, kLbSetCurSel, static_cast<MessageParam>(index), 0) ? 1 : 0;
  });
}

int zeluiAnswerSave(zeluiWindow dialog, const char* path) {
  return Guarded(0, [&] {
    const auto record = Find(dialog);
    if (!record || record->kind != WindowKind::kDialog || record->id != ZELUI_SAVE_DIALOG) return 0;
    const WindowHandle name = DialogItem(dialog, ZELUI_SAVE_NAME);
    if (path != nullptr) {
      std::lock_guard lock(TheRegistry().mutex);
      if (const auto box = FindLocked(name)) box->text = path;
    }
    return PostWindowMessage(dialog, kWmCommand,
                             CommandParam(path != nullptr ? kIdOk : kIdCancel, kBnClicked), 0)
               ? 1
               : 0;
  });
}

zeluiWindow zeluiCreateListBox(void) {
  return Guarded(0u, [] { return static_cast<zeluiWindow>(CreateListBox(0)); });
}

int zeluiDestroyWindow(zeluiWindow window) {
  return Guarded(0, [&] { return DestroyWindowTree(window) ? 1 : 0; });
}

}  // extern "C"
