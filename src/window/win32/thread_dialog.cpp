#include "window/thread_dialog.h"

#include <windows.h>

#include <cstring>

namespace zel {
namespace {

// Longest control text read; the progress dialog's are far shorter.
constexpr int kItemTextLimit = 1024;
// How long a text request waits for the dialog's thread.
constexpr UINT kAnswerTimeoutMs = 1000;

BOOL CALLBACK TakeDialog(HWND window, LPARAM found) {
  char name[16] = "";
  if (GetClassNameA(window, name, sizeof name) == 0 || std::strcmp(name, "#32770") != 0) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

std::uint32_t CurrentThreadNumber() { return GetCurrentThreadId(); }

std::uintptr_t FindThreadDialog(std::uint32_t thread) {
  HWND found = nullptr;
  EnumThreadWindows(thread, TakeDialog, reinterpret_cast<LPARAM>(&found));
  return reinterpret_cast<std::uintptr_t>(found);
}

bool DialogItemText(std::uintptr_t dialog, int id, std::string& text) {
  text.clear();
  const HWND item = GetDlgItem(reinterpret_cast<HWND>(dialog), id);
  if (item == nullptr) return false;
  char buffer[kItemTextLimit] = "";
  DWORD_PTR length = 0;
  // Sent to the dialog's thread, which pumps its messages while it runs.
  if (SendMessageTimeoutA(item, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                          SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length) == 0) {
    return false;
  }
  text.assign(buffer, length < sizeof buffer ? length : sizeof buffer - 1);
  return true;
}

bool ClickDialogButton(std::uintptr_t dialog, int id) {
  const HWND window = reinterpret_cast<HWND>(dialog);
  return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(window, id))) != 0;
}

}  // namespace zel
