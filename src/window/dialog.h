// Dialogs and controls of the window-message layer: modeless and modal
// dialogs from templates, static, edit, button, progress bar and list box
// controls, the standard Save dialog and the Yes/No message box.
//
// On Windows a dialog is built by user32 from the dialog resource
// `resourceId` of the module (the .rc of src/ui), the progress bar is
// comctl32's and the Save dialog comdlg32's. On POSIX the dialog is built
// from the template's data: a headless window whose controls keep their
// texts, ranges, positions, fonts and list entries, readable and pressable
// through include/zelpost_ui.h; the Save dialog and the message box are
// headless modal dialogs of the same kind (ids ZELUI_SAVE_DIALOG and
// ZELUI_MESSAGE_BOX). Both backends take the same messages (Win32 numbers).
#pragma once

#include <cstddef>
#include <cstdint>

#include "window/window.h"
#include "zelpost_ui.h"

namespace zel {

// A dialog procedure: returns non-zero when it handled the message, 0 to
// leave it to the default dialog handling (which turns WM_CLOSE into a
// click on kIdCancel). WM_INITDIALOG carries the creation parameter.
using DialogProc = std::intptr_t (*)(WindowHandle dialog, unsigned message, MessageParam wParam,
                                     MessageLong lParam);

// Control and button ids (Win32 values).
inline constexpr int kIdStatic = -1;  // a label without id
inline constexpr int kIdOk = ZELUI_IDOK;
inline constexpr int kIdCancel = ZELUI_IDCANCEL;
inline constexpr int kIdYes = ZELUI_IDYES;
inline constexpr int kIdNo = ZELUI_IDNO;
inline constexpr unsigned kBnClicked = 0;  // WM_COMMAND notification of a click

// WM_COMMAND's wParam for notification `code` from control `id`, and the
// id back from it.
constexpr MessageParam CommandParam(int id, unsigned code) {
  return (static_cast<MessageParam>(code & 0xFFFF) << 16) | (static_cast<unsigned>(id) & 0xFFFF);
}
constexpr int CommandId(MessageParam wParam) { return static_cast<int>(wParam & 0xFFFF); }

// List box messages; kLbErr is their failure result.
inline constexpr unsigned kLbAddString = 0x0180;     // l: text -> index
inline constexpr unsigned kLbInsertString = 0x0181;  // w: index (-1: end), l: text -> index
inline constexpr unsigned kLbDeleteString = 0x0182;  // w: index -> count left
inline constexpr unsigned kLbResetContent = 0x0184;
inline constexpr unsigned kLbSetCurSel = 0x0186;     // w: index (-1: none)
inline constexpr unsigned kLbGetCurSel = 0x0188;     // -> index
inline constexpr unsigned kLbGetText = 0x0189;       // w: index, l: buffer (kLbGetTextLen + 1 bytes)
inline constexpr unsigned kLbGetTextLen = 0x018A;    // w: index -> length
inline constexpr unsigned kLbGetCount = 0x018B;
inline constexpr unsigned kLbGetItemData = 0x0199;   // w: index -> data
inline constexpr unsigned kLbSetItemData = 0x019A;   // w: index (-1: every entry), l: data -> 1
inline constexpr MessageResult kLbErr = -1;

// Progress bar messages.
inline constexpr unsigned kPbmSetPos = 0x0402;      // w: position -> previous position
inline constexpr unsigned kPbmSetRange32 = 0x0406;  // w: low, l: high
inline constexpr unsigned kPbmGetPos = 0x0408;

// Styles of templates and controls (Win32 values).
inline constexpr std::uint32_t kDsModalFrame = 0x0080;
inline constexpr std::uint32_t kWsGroup = 0x00020000;
inline constexpr std::uint32_t kWsTabStop = 0x00010000;
inline constexpr std::uint32_t kSsCenter = 0x0001;
inline constexpr std::uint32_t kSsRight = 0x0002;
inline constexpr std::uint32_t kEsAutoHScroll = 0x0080;
inline constexpr std::uint32_t kEsReadOnly = 0x0800;
inline constexpr std::uint32_t kBsDefPushButton = 0x0001;
inline constexpr std::uint32_t kLbsNotify = 0x0001;
inline constexpr std::uint32_t kLbsNoIntegralHeight = 0x0100;

enum class ControlKind : int {
  kStatic = ZELUI_KIND_STATIC,
  kEdit = ZELUI_KIND_EDIT,
  kButton = ZELUI_KIND_BUTTON,
  kProgressBar = ZELUI_KIND_PROGRESS,
  kListBox = ZELUI_KIND_LISTBOX,
};

// One control of a template: place and size in dialog units.
struct DialogControl {
  ControlKind kind;
  int id;             // kIdStatic for a label
  const char* text;   // Shift-JIS
  std::uint32_t style;  // kind-specific and kWs* bits; kWsChild | kWsVisible implied
  int x, y, width, height;
};

// A dialog template. On Windows only `resourceId` is used: the resource of
// that id must describe the same dialog (the tests compare the two).
struct DialogTemplate {
  int resourceId;
  const char* title;     // Shift-JIS
  std::uint32_t style;   // kWs* and kDs* bits
  int width, height;     // dialog units
  const char* fontFace;  // Shift-JIS
  int fontPoints;
  const DialogControl* controls;
  std::size_t controlCount;
};

// Creates the modeless dialog `dialogTemplate` owned by the calling thread,
// with `parent` as its parent (0: none), runs WM_INITDIALOG (lParam =
// `param`) and returns its handle, hidden until ShowWindowNormal. Returns 0
// when it cannot be created (`parent` not a window, no such resource).
WindowHandle CreateModelessDialog(const DialogTemplate& dialogTemplate, WindowHandle parent,
                                  DialogProc proc, void* param);

// Runs the modal dialog `dialogTemplate` owned by `owner` (0: none): creates
// it (WM_INITDIALOG with `param`), shows it unless it ended during its
// initialisation, and pumps the calling thread's messages until
// EndModalDialog. Returns the result given to EndModalDialog, or -1 when the
// dialog cannot be created. A quit message ends the loop (result 0) and is
// posted again for the caller's loop.
std::intptr_t RunModalDialog(const DialogTemplate& dialogTemplate, WindowHandle owner,
                             DialogProc proc, void* param);

// Ends the modal dialog `dialog` with `result` once the current message has
// been handled. Returns false when `dialog` is no dialog.
bool EndModalDialog(WindowHandle dialog, std::intptr_t result);

// The control `id` of `dialog`, or 0.
WindowHandle DialogItem(WindowHandle dialog, int id);

// Text of the control `id` of `dialog`, as SetWindowTextOf and
// WindowTextOf. SetItemText returns false when there is no such control.
bool SetItemText(WindowHandle dialog, int id, const char* text);
std::size_t GetItemText(WindowHandle dialog, int id, char* buffer, std::size_t size);

// Sends a message to the control `id` of `dialog`; 0 when there is none.
MessageResult SendItemMessage(WindowHandle dialog, int id, unsigned message, MessageParam wParam,
                              MessageLong lParam);

// Shows `window` normally.
void ShowWindowNormal(WindowHandle window);

// Moves `window` to the centre of the desktop (nothing on POSIX).
void CenterOnDesktop(WindowHandle window);

// Creates an empty list box (single selection, notifying, unsorted, vertical
// scroll bar) owned by the calling thread: a hidden top-level window when
// `parent` is 0, else an owned popup of `parent`. Returns 0 on failure.
WindowHandle CreateListBox(WindowHandle parent);

// The standard Save dialog owned by `owner` (0: none), titled `title`, with
// the file name in `path` (`size` bytes) as the initial name, read-only box
// hidden, no filter, no default extension. Returns true with the chosen
// path in `path`; false when the user cancels or the path does not fit.
bool AskSavePath(WindowHandle owner, const char* title, char* path, std::size_t size);

// A message box owned by `owner` with `text`, `caption` and the buttons Yes
// and No. Returns kIdYes or kIdNo (kIdNo also when it cannot be shown).
int AskYesNo(WindowHandle owner, const char* text, const char* caption);

// The `index`-th child control of `window` in creation (template) order,
// or 0 past the last.
WindowHandle ChildWindowAt(WindowHandle window, int index);

// A dialog of the calling process with the template id `dialogId` that has
// finished its initialisation (the newest, when there are several), waited
// for up to `timeoutMs` milliseconds; 0 on time-out. It may run on any
// thread: a host finds a modal dialog another thread runs this way.
WindowHandle WaitForDialog(int dialogId, int timeoutMs);

// Describes `window` (see zeluiWindowInfo). Returns false for no window.
bool DescribeWindow(WindowHandle window, zeluiWindowInfo& info);

}  // namespace zel
