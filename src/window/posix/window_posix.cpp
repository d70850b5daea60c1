// Windows, classes, sent and posted messages and the message loop of the
// in-process message layer (see window_registry.h).
#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/ascii_case.h"
#include "platform/sjis_text.h"
#include "window/posix/window_registry.h"

namespace zel {
namespace layer {
namespace {

// Destroys a window of another thread on its owner thread (a child whose
// parent is being destroyed). Outside every Win32 message range.
constexpr unsigned kLayerDestroy = 0x7FFF0001;

thread_local unsigned long lastError = 0;

std::string ClassKey(const char* name) {
  std::string key(name);
  for (char& c : key) c = lowerAscii(c);
  return key;
}

// Closes the queue of an ending thread: sends waiting on it return 0 and
// its windows go without messages (nobody is left to handle them).
void CloseQueue(const std::shared_ptr<Queue>& queue) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  queue->alive = false;
  for (const auto& sent : queue->sent) {
    sent->done = true;
    sent->sender->wake.notify_all();
  }
  queue->sent.clear();
  queue->posted.clear();
  std::vector<std::shared_ptr<WindowRecord>> gone;
  for (const auto& [handle, record] : r.windows) {
    if (record->owner == queue) gone.push_back(record);
  }
  for (const auto& record : gone) {
    r.windows.erase(record->handle);
    if (auto parent = FindLocked(record->parent)) std::erase(parent->children, record->handle);
  }
  r.changed.notify_all();
}

struct QueueHolder {
  std::shared_ptr<Queue> queue;
  ~QueueHolder() {
    if (queue) CloseQueue(queue);
  }
};

thread_local QueueHolder currentQueue;
std::atomic<unsigned> nextThread{1};

// Takes `record` out of the registry once it has been destroyed: its parent
// forgets it, sends waiting for it return 0, posts for it are dropped.
void RemoveLocked(const std::shared_ptr<WindowRecord>& record) {
  Registry& r = TheRegistry();
  r.windows.erase(record->handle);
  if (auto parent = FindLocked(record->parent)) std::erase(parent->children, record->handle);
  Queue& owner = *record->owner;
  std::erase_if(owner.sent, [&](const std::shared_ptr<SentMessage>& sent) {
    if (sent->message.window != record->handle) return false;
    sent->done = true;
    sent->sender->wake.notify_all();
    return true;
  });
  std::erase_if(owner.posted, [&](const Message& m) { return m.window == record->handle; });
  r.changed.notify_all();
}

}  // namespace

Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

std::shared_ptr<Queue> CurrentQueue() {
  if (!currentQueue.queue) {
    currentQueue.queue = std::make_shared<Queue>();
    currentQueue.queue->thread = nextThread++;
  }
  return currentQueue.queue;
}

void SetLastWindowError(unsigned long error) { lastError = error; }

std::shared_ptr<WindowRecord> FindLocked(WindowHandle window) {
  Registry& r = TheRegistry();
  const auto it = r.windows.find(window);
  return it != r.windows.end() ? it->second : nullptr;
}

WindowHandle AddWindowLocked(const std::shared_ptr<WindowRecord>& record) {
  Registry& r = TheRegistry();
  do {
    record->handle = r.nextHandle++;
    if (r.nextHandle == 0) r.nextHandle = 0x10000;
  } while (r.windows.count(record->handle) != 0);
  record->sequence = r.nextSequence++;
  r.windows.emplace(record->handle, record);
  if (auto parent = FindLocked(record->parent)) parent->children.push_back(record->handle);
  return record->handle;
}

MessageResult Deliver(const std::shared_ptr<WindowRecord>& record, unsigned message,
                      MessageParam wParam, MessageLong lParam) {
  if (message == kLayerDestroy) return DestroyWindowTree(record->handle) ? 1 : 0;
  switch (record->kind) {
    case WindowKind::kClass:
      return record->proc(record->handle, message, wParam, lParam);
    case WindowKind::kDialog:
      return DeliverToDialog(record, message, wParam, lParam);
    default:
      return DeliverToControl(record, message, wParam, lParam);
  }
}

void HandleOneSent(std::unique_lock<std::mutex>& lock, Queue& self) {
  const std::shared_ptr<SentMessage> sent = self.sent.front();
  self.sent.pop_front();
  const auto target = FindLocked(sent->message.window);
  lock.unlock();
  MessageResult result = 0;
  if (target && target->owner.get() == &self) {
    const Message& m = sent->message;
    result = Deliver(target, m.message, m.wParam, m.lParam);
  }
  lock.lock();
  sent->result = result;
  sent->done = true;
  sent->sender->wake.notify_all();
}

std::size_t CopyTextOut(const std::string& text, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  CopyBounded(buffer, size, text);
  return std::strlen(buffer);
}

WindowHandle FindDialogLocked(unsigned thread, int dialogId) {
  const WindowRecord* best = nullptr;
  for (const auto& [handle, record] : TheRegistry().windows) {
    if (record->kind != WindowKind::kDialog || !record->ready || record->ended) continue;
    if (thread != 0 && record->owner->thread != thread) continue;
    if (dialogId != 0 && record->id != dialogId) continue;
    if (best == nullptr || record->sequence > best->sequence) best = record.get();
  }
  return best != nullptr ? best->handle : 0;
}

}  // namespace layer

using namespace layer;

bool RegisterWindowClass(const char* name, WindowProc proc, unsigned) {
  if (name == nullptr || *name == '\0' || proc == nullptr) return false;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  if (!r.classes.emplace(ClassKey(name), proc).second) {
    SetLastWindowError(kErrorClassAlreadyExists);
    return false;
  }
  return true;
}

bool UnregisterWindowClass(const char* name) {
  if (name == nullptr) return false;
  const std::string key = ClassKey(name);
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.classes.find(key);
  if (it == r.classes.end()) {
    SetLastWindowError(kErrorClassDoesNotExist);
    return false;
  }
  for (const auto& [handle, record] : r.windows) {
    if (record->kind == WindowKind::kClass && record->className == key) {
      SetLastWindowError(kErrorClassHasWindows);
      return false;
    }
  }
  r.classes.erase(it);
  return true;
}

unsigned long LastWindowError() { return lastError; }

WindowHandle CreateHiddenWindow(const char* className, const char* title, std::uint32_t style,
                                int x, int y, int width, int height, WindowHandle parent) {
  if (className == nullptr) return 0;
  auto record = std::make_shared<WindowRecord>();
  record->className = ClassKey(className);
  record->owner = CurrentQueue();
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.classes.find(record->className);
  if (it == r.classes.end()) {
    SetLastWindowError(kErrorClassDoesNotExist);
    return 0;
  }
  if (parent != 0) {
    const auto parentRecord = FindLocked(parent);
    if (!parentRecord || parentRecord->destroying) {
      SetLastWindowError(kErrorInvalidWindowHandle);
      return 0;
    }
  }
  record->kind = WindowKind::kClass;
  record->proc = it->second;
  record->parent = parent;
  record->text = title != nullptr ? title : "";
  record->style = style & ~kWsVisible;
  record->x = x;
  record->y = y;
  record->width = width;
  record->height = height;
  record->id = 0;
  return AddWindowLocked(record);
}

bool DestroyWindowTree(WindowHandle window) {
  const auto self = CurrentQueue();
  Registry& r = TheRegistry();
  std::unique_lock lock(r.mutex);
  const auto record = FindLocked(window);
  if (!record) {
    SetLastWindowError(kErrorInvalidWindowHandle);
    return false;
  }
  if (record->owner != self) {
    SetLastWindowError(kErrorAccessDenied);
    return false;
  }
  if (record->destroying) return false;
  record->destroying = true;
  const std::vector<WindowHandle> children = record->children;
  lock.unlock();
  for (const WindowHandle child : children) {
    lock.lock();
    const auto childRecord = FindLocked(child);
    lock.unlock();
    if (!childRecord) continue;
    if (childRecord->owner == self) {
      DestroyWindowTree(child);
    } else {
      SendWindowMessage(child, kLayerDestroy, 0, 0);
    }
  }
  Deliver(record, kWmDestroy, 0, 0);
  Deliver(record, kWmNcDestroy, 0, 0);
  lock.lock();
  RemoveLocked(record);
  return true;
}

bool IsLiveWindow(WindowHandle window) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return FindLocked(window) != nullptr;
}

MessageResult SendWindowMessage(WindowHandle window, unsigned message, MessageParam wParam,
                                MessageLong lParam) {
  const auto self = CurrentQueue();
  Registry& r = TheRegistry();
  std::unique_lock lock(r.mutex);
  const auto target = FindLocked(window);
  if (!target) {
    SetLastWindowError(kErrorInvalidWindowHandle);
    return 0;
  }
  if (target->owner == self) {
    lock.unlock();
    return Deliver(target, message, wParam, lParam);
  }
  if (!target->owner->alive) return 0;
  auto sent = std::make_shared<SentMessage>();
  sent->message = Message{window, message, wParam, lParam};
  sent->sender = self;
  target->owner->sent.push_back(sent);
  target->owner->wake.notify_all();
  WaitHandlingSent(lock, *self, [&] { return sent->done; });
  return sent->result;
}

bool PostWindowMessage(WindowHandle window, unsigned message, MessageParam wParam,
                       MessageLong lParam) {
  const auto self = CurrentQueue();
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  Queue* queue = self.get();
  if (window != 0) {
    const auto target = FindLocked(window);
    if (!target || !target->owner->alive) {
      SetLastWindowError(kErrorInvalidWindowHandle);
      return false;
    }
    queue = target->owner.get();
  }
  queue->posted.push_back(Message{window, message, wParam, lParam});
  queue->wake.notify_all();
  return true;
}

void PostQuit(int exitCode) {
  const auto self = CurrentQueue();
  std::lock_guard lock(TheRegistry().mutex);
  self->quit = true;
  self->quitCode = exitCode;
}

bool GetNextMessage(Message& out) {
  const auto self = CurrentQueue();
  std::unique_lock lock(TheRegistry().mutex);
  for (;;) {
    if (!self->sent.empty()) {
      HandleOneSent(lock, *self);
    } else if (!self->posted.empty()) {
      out = self->posted.front();
      self->posted.pop_front();
      return true;
    } else if (self->quit) {
      self->quit = false;
      out = Message{0, kWmQuit, static_cast<MessageParam>(self->quitCode), 0};
      return false;
    } else {
      self->wake.wait(lock);
    }
  }
}

MessageResult DispatchWindowMessage(const Message& message) {
  if (message.window == 0) return 0;
  const auto self = CurrentQueue();
  std::shared_ptr<WindowRecord> target;
  {
    std::lock_guard lock(TheRegistry().mutex);
    target = FindLocked(message.window);
  }
  if (!target || target->owner != self) return 0;
  return Deliver(target, message.message, message.wParam, message.lParam);
}

MessageResult DefaultWindowProc(WindowHandle window, unsigned message, MessageParam wParam,
                                MessageLong lParam) {
  if (message == kWmClose) {
    DestroyWindowTree(window);
    return 0;
  }
  std::lock_guard lock(TheRegistry().mutex);
  const auto record = FindLocked(window);
  if (!record) return 0;
  switch (message) {
    case kWmSetText:
      record->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
      return 1;
    case kWmGetText:
      return static_cast<MessageResult>(
          CopyTextOut(record->text, reinterpret_cast<char*>(lParam), wParam));
    case kWmGetTextLength:
      return static_cast<MessageResult>(record->text.size());
    default:
      return 0;
  }
}

void SetWindowData(WindowHandle window, void* data) {
  std::lock_guard lock(TheRegistry().mutex);
  if (const auto record = FindLocked(window)) record->data = data;
}

void* WindowData(WindowHandle window) {
  std::lock_guard lock(TheRegistry().mutex);
  const auto record = FindLocked(window);
  return record ? record->data : nullptr;
}

bool SetWindowTextOf(WindowHandle window, const char* text) {
  return SendWindowMessage(window, kWmSetText, 0, reinterpret_cast<MessageLong>(text)) != 0;
}

std::size_t WindowTextOf(WindowHandle window, char* buffer, std::size_t size) {
  std::lock_guard lock(TheRegistry().mutex);
  const auto record = FindLocked(window);
  if (!record) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
  }
  return CopyTextOut(record->text, buffer, size);
}

void PaintWindowText(WindowHandle, int, int, const char*) {}  // headless: nothing to paint

MessageResult SendCopyData(WindowHandle window, WindowHandle from, std::uintptr_t tag,
                           const void* data, std::uint32_t size) {
  const CopyData descriptor{tag, size, data};
  return SendWindowMessage(window, kWmCopyData, from,
                           reinterpret_cast<MessageLong>(&descriptor));
}

}  // namespace zel
