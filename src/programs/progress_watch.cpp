// The watcher thread of zelrecv.
#include "programs/progress_watch.h"

#include "platform/interrupt.h"

namespace zel::sender {

void WatchProgress(const DialogAccess& access, ProgressView& view,
                   const std::atomic<bool>& done) {
  std::uintptr_t dialog = 0;
  bool interrupted = false;
  bool pressed = false;
  ProgressTexts shown;
  while (!done.load()) {
    if (WaitInterrupt(kWatchIntervalMs)) interrupted = true;
    if (dialog == 0) dialog = access.find();
    if (dialog != 0 && interrupted && !pressed) pressed = access.cancel(dialog);
    ProgressTexts texts;
    if (dialog != 0 && !access.read(dialog, texts)) dialog = 0;
    if (dialog != 0 && !(texts == shown)) {
      shown = texts;
      view.Show(texts);
    }
    view.Poll();
  }
}

}  // namespace zel::sender
