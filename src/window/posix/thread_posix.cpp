// Threads of the message layer: a thread joined by JoinThread lets the
// joining thread handle the messages sent to it while it waits.
#include <system_error>
#include <thread>

#include "window/posix/window_registry.h"
#include "window/thread.h"

namespace zel {
namespace {

// Shared by the thread and its handle; guarded by the registry's mutex.
struct ThreadState {
  bool finished = false;
  std::shared_ptr<layer::Queue> joiner;  // woken when the body has returned
};

struct ThreadEntry {
  std::thread thread;
  std::shared_ptr<ThreadState> state;
};

}  // namespace

ThreadHandle StartThread(void (*body)(void*), void* argument) {
  auto entry = std::make_unique<ThreadEntry>();
  entry->state = std::make_shared<ThreadState>();
  try {
    entry->thread = std::thread([state = entry->state, body, argument] {
      body(argument);
      std::lock_guard lock(layer::TheRegistry().mutex);
      state->finished = true;
      if (state->joiner) state->joiner->wake.notify_all();
    });
  } catch (const std::system_error&) {
    return 0;
  }
  return reinterpret_cast<ThreadHandle>(entry.release());
}

void JoinThread(ThreadHandle thread) {
  if (thread == 0) return;
  std::unique_ptr<ThreadEntry> entry(reinterpret_cast<ThreadEntry*>(thread));
  const auto self = layer::CurrentQueue();
  {
    std::unique_lock lock(layer::TheRegistry().mutex);
    entry->state->joiner = self;
    layer::WaitHandlingSent(lock, *self, [&] { return entry->state->finished; });
  }
  entry->thread.join();
}

void ReleaseThread(ThreadHandle thread) {
  if (thread == 0) return;
  std::unique_ptr<ThreadEntry> entry(reinterpret_cast<ThreadEntry*>(thread));
  entry->thread.detach();
}

}  // namespace zel
