// The progress dialog as zelrecv reads and presses it.
#include "programs/dialog_access.h"

#include "programs/zelpost_library.h"
#include "ui/dialog_ids.h"
#include "zelpost_ui.h"

#ifdef _WIN32
#include "window/thread_dialog.h"
#endif

namespace zel::sender {
namespace {

// Room for a control's text: the progress record's subject and sender are
// each at most 1,023 bytes.
constexpr int kTextSize = 1024;

// Reads the three texts with `text(dialog, id, out)`.
template <class Text>
bool ReadTexts(std::uintptr_t dialog, ProgressTexts& texts, Text text) {
  return text(dialog, ZEL_IDC_COUNTS, texts.counts) &&
         text(dialog, ZEL_IDC_SUBJECT, texts.subject) && text(dialog, ZEL_IDC_SENDER, texts.sender);
}

}  // namespace

bool DialogAccessForThisThread([[maybe_unused]] LibraryHandle library, DialogAccess& access) {
#ifdef _WIN32
  const std::uint32_t thread = CurrentThreadNumber();
  access.find = [thread] { return FindThreadDialog(thread); };
  access.read = [](std::uintptr_t dialog, ProgressTexts& texts) {
    return ReadTexts(dialog, texts, DialogItemText);
  };
  access.cancel = [](std::uintptr_t dialog) { return ClickDialogButton(dialog, ZELUI_IDCANCEL); };
  return true;
#else
  const auto threadId = ZEL_EXPORT(library, zeluiThreadId);
  const auto findDialog = ZEL_EXPORT(library, zeluiFindDialog);
  const auto getDlgItem = ZEL_EXPORT(library, zeluiGetDlgItem);
  const auto getText = ZEL_EXPORT(library, zeluiGetText);
  const auto pressButton = ZEL_EXPORT(library, zeluiPressButton);
  if (threadId == nullptr || findDialog == nullptr || getDlgItem == nullptr ||
      getText == nullptr || pressButton == nullptr) {
    return false;
  }
  const unsigned thread = threadId();
  access.find = [=] { return static_cast<std::uintptr_t>(findDialog(thread, ZELUI_ANY_DIALOG)); };
  access.read = [=](std::uintptr_t dialog, ProgressTexts& texts) {
    return ReadTexts(dialog, texts, [=](std::uintptr_t of, int id, std::string& out) {
      char buffer[kTextSize];
      const int length =
          getText(getDlgItem(static_cast<zeluiWindow>(of), id), buffer, sizeof buffer);
      if (length < 0) return false;
      out.assign(buffer, static_cast<std::size_t>(length));
      return true;
    });
  };
  access.cancel = [=](std::uintptr_t dialog) {
    return pressButton(static_cast<zeluiWindow>(dialog), ZELUI_IDCANCEL) == 1;
  };
  return true;
#endif
}

}  // namespace zel::sender
