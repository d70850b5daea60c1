// Dialogs and controls on Windows: user32 dialogs from the module's dialog
// resources, comctl32's progress bar, comdlg32's Save dialog.
#include "window/dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <initializer_list>

#include "platform/win32/own_module.h"

namespace zel {
namespace {

static_assert(kLbAddString == LB_ADDSTRING && kLbInsertString == LB_INSERTSTRING &&
              kLbDeleteString == LB_DELETESTRING && kLbResetContent == LB_RESETCONTENT);
static_assert(kLbSetCurSel == LB_SETCURSEL && kLbGetCurSel == LB_GETCURSEL && kLbGetText == LB_GETTEXT &&
              kLbGetTextLen == LB_GETTEXTLEN && kLbGetCount == LB_GETCOUNT);
static_assert(kLbGetItemData == LB_GETITEMDATA && kLbSetItemData == LB_SETITEMDATA && kLbErr == LB_ERR);
static_assert(kPbmSetPos == PBM_SETPOS && kPbmSetRange32 == PBM_SETRANGE32 && kPbmGetPos == PBM_GETPOS);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdYes == IDYES && kIdNo == IDNO);
static_assert(kDsModalFrame == DS_MODALFRAME && kSsRight == SS_RIGHT && kSsCenter == SS_CENTER);
static_assert(kEsReadOnly == ES_READONLY && kEsAutoHScroll == ES_AUTOHSCROLL &&
              kBsDefPushButton == BS_DEFPUSHBUTTON && kLbsNotify == LBS_NOTIFY);

HWND Hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

// What a dialog keeps in DWLP_USER: its layer procedure and its template id.
struct DialogState {
  DialogProc proc;
  int resourceId;
  void* param;  // for WM_INITDIALOG only
};

INT_PTR CALLBACK DialogThunk(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (message == WM_INITDIALOG) {
    state = new DialogState(*reinterpret_cast<const DialogState*>(lParam));
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    lParam = reinterpret_cast<LPARAM>(state->param);
  }
  if (state == nullptr) return FALSE;  // messages before WM_INITDIALOG
  const INT_PTR result = state->proc(reinterpret_cast<WindowHandle>(dialog), message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(dialog, DWLP_USER, 0);
    delete state;
  }
  return result;
}

void UseCommonControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    return InitCommonControlsEx(&controls) != 0;
  }();
  (void)done;
}

// Dialog units from pixels: the value that MapDialogRect maps to `pixels`
// with `base` pixels per `units` dialog units (the inverse of its MulDiv).
int DialogUnits(int pixels, int base, int units) {
  const int guess = MulDiv(pixels, units, base);
  for (const int d : {guess, guess - 1, guess + 1}) {
    if (MulDiv(d, base, units) == pixels) return d;
  }
  return guess;
}

// `rect` (pixels; right and bottom are width and height) in dialog units.
void PixelsToDialogUnits(HWND dialog, RECT& rect) {
  RECT unit{0, 0, 4, 8};
  MapDialogRect(dialog, &unit);
  if (unit.right <= 0 || unit.bottom <= 0) return;
  rect.left = DialogUnits(rect.left, unit.right, 4);
  rect.right = DialogUnits(rect.right, unit.right, 4);
  rect.top = DialogUnits(rect.top, unit.bottom, 8);
  rect.bottom = DialogUnits(rect.bottom, unit.bottom, 8);
}

int KindOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  struct Known {
    const char* name;
    int kind;
  };
  static constexpr Known kKnown[] = {
      {"#32770", ZELUI_KIND_DIALOG}, {"Static", ZELUI_KIND_STATIC},
      {"Edit", ZELUI_KIND_EDIT},     {"Button", ZELUI_KIND_BUTTON},
      {PROGRESS_CLASSA, ZELUI_KIND_PROGRESS}, {"ListBox", ZELUI_KIND_LISTBOX},
  };
  for (const Known& k : kKnown) {
    if (lstrcmpiA(name, k.name) == 0) return k.kind;
  }
  return ZELUI_KIND_WINDOW;
}

// What WaitForDialog looks for, and what it found.
struct DialogSearch {
  int id;
  HWND found;
};

// EnumWindows callback: stops at the first (newest) shown dialog of this
// process with the template id searched for.
BOOL CALLBACK FindShownDialog(HWND window, LPARAM lParam) {
  auto& search = *reinterpret_cast<DialogSearch*>(lParam);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  // Shown: a dialog becomes visible once WM_INITDIALOG has run.
  if (process != GetCurrentProcessId() || KindOf(window) != ZELUI_KIND_DIALOG || !IsWindowVisible(window)) {
    return TRUE;
  }
  const auto* state = reinterpret_cast<const DialogState*>(GetWindowLongPtrA(window, DWLP_USER));
  if (state == nullptr || state->resourceId != search.id) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

WindowHandle CreateModelessDialog(const DialogTemplate& dialogTemplate, WindowHandle parent,
                                  DialogProc proc, void* param) {
  UseCommonControls();
  DialogState start{proc, dialogTemplate.resourceId, param};
  const HWND dialog = CreateDialogParamA(OwnModule(), MAKEINTRESOURCEA(dialogTemplate.resourceId),
                                         Hwnd(parent), &DialogThunk, reinterpret_cast<LPARAM>(&start));
  return reinterpret_cast<WindowHandle>(dialog);
}

std::intptr_t RunModalDialog(const DialogTemplate& dialogTemplate, WindowHandle owner,
                             DialogProc proc, void* param) {
  UseCommonControls();
  DialogState start{proc, dialogTemplate.resourceId, param};
  return DialogBoxParamA(OwnModule(), MAKEINTRESOURCEA(dialogTemplate.resourceId), Hwnd(owner),
                         &DialogThunk, reinterpret_cast<LPARAM>(&start));
}

bool EndModalDialog(WindowHandle dialog, std::intptr_t result) {
  return EndDialog(Hwnd(dialog), result) != 0;
}

WindowHandle DialogItem(WindowHandle dialog, int id) {
  return reinterpret_cast<WindowHandle>(GetDlgItem(Hwnd(dialog), id));
}

bool SetItemText(WindowHandle dialog, int id, const char* text) {
  return SetDlgItemTextA(Hwnd(dialog), id, text) != 0;
}

std::size_t GetItemText(WindowHandle dialog, int id, char* buffer, std::size_t size) {
  return WindowTextOf(DialogItem(dialog, id), buffer, size);
}

MessageResult SendItemMessage(WindowHandle dialog, int id, unsigned message, MessageParam wParam,
                              MessageLong lParam) {
  return SendDlgItemMessageA(Hwnd(dialog), id, message, wParam, lParam);
}

void ShowWindowNormal(WindowHandle window) { ShowWindow(Hwnd(window), SW_SHOWNORMAL); }

void CenterOnDesktop(WindowHandle window) {
  RECT desktop;
  RECT own;
  if (!GetWindowRect(GetDesktopWindow(), &desktop) || !GetWindowRect(Hwnd(window), &own)) return;
  const int x = desktop.left + ((desktop.right - desktop.left) - (own.right - own.left)) / 2;
  const int y = desktop.top + ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2;
  SetWindowPos(Hwnd(window), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

WindowHandle CreateListBox(WindowHandle parent) {
  const HWND list = CreateWindowExA(0, "LISTBOX", "", WS_POPUP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY,
                                    0, 0, 200, 200, Hwnd(parent), nullptr, OwnModule(), nullptr);
  return reinterpret_cast<WindowHandle>(list);
}

bool AskSavePath(WindowHandle owner, const char* title, char* path, std::size_t size) {
  if (path == nullptr || size == 0) return false;
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Hwnd(owner);
  dialog.lpstrFile = path;
  dialog.nMaxFile = static_cast<DWORD>(size);
  dialog.lpstrTitle = title;
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
  return GetSaveFileNameA(&dialog) != 0;
}

int AskYesNo(WindowHandle owner, const char* text, const char* caption) {
  return MessageBoxA(Hwnd(owner), text, caption, MB_YESNO) == IDYES ? kIdYes : kIdNo;
}

WindowHandle ChildWindowAt(WindowHandle window, int index) {
  if (index < 0) return 0;
  HWND child = GetWindow(Hwnd(window), GW_CHILD);
  while (child != nullptr && index-- > 0) child = GetWindow(child, GW_HWNDNEXT);
  return reinterpret_cast<WindowHandle>(child);
}

WindowHandle WaitForDialog(int dialogId, int timeoutMs) {
  DialogSearch search{dialogId, nullptr};
  const DWORD start = GetTickCount();
  for (;;) {
    EnumWindows(&FindShownDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr || GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) break;
    Sleep(10);
  }
  return reinterpret_cast<WindowHandle>(search.found);
}

bool DescribeWindow(WindowHandle window, zeluiWindowInfo& info) {
  const HWND hwnd = Hwnd(window);
  if (window == 0 || !IsWindow(hwnd)) return false;
  info = zeluiWindowInfo{};
  info.kind = KindOf(hwnd);
  info.style = static_cast<unsigned>(GetWindowLongA(hwnd, GWL_STYLE));
  info.visible = IsWindowVisible(hwnd) ? 1 : 0;
  info.redraw = 1;
  const bool isDialog = info.kind == ZELUI_KIND_DIALOG;
  const HWND dialog = isDialog ? hwnd : GetParent(hwnd);
  RECT rect{};
  if (isDialog) {
    const auto* state = reinterpret_cast<const DialogState*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    info.id = state != nullptr ? state->resourceId : 0;
    GetClientRect(hwnd, &rect);
  } else {
    const int id = GetDlgCtrlID(hwnd);
    info.id = id == 0xFFFF ? kIdStatic : id;
    GetWindowRect(hwnd, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  }
  rect.right -= rect.left;  // width and height, each mapped on its own
  rect.bottom -= rect.top;
  if (dialog != nullptr && KindOf(dialog) == ZELUI_KIND_DIALOG) {
    PixelsToDialogUnits(dialog, rect);
    const auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA face{};
    if (font != nullptr && GetObjectA(font, sizeof face, &face) != 0) {
      lstrcpynA(info.font, face.lfFaceName, sizeof info.font);
      const HDC screen = GetDC(nullptr);
      info.fontPoints = MulDiv(face.lfHeight < 0 ? -face.lfHeight : face.lfHeight, 72,
                               GetDeviceCaps(screen, LOGPIXELSY));
      ReleaseDC(nullptr, screen);
    }
  }
  info.x = rect.left;
  info.y = rect.top;
  info.width = rect.right;
  info.height = rect.bottom;
  if (info.kind == ZELUI_KIND_PROGRESS) {
    PBRANGE range{};
    SendMessageA(hwnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    info.rangeLow = range.iLow;
    info.rangeHigh = range.iHigh;
    info.position = static_cast<int>(SendMessageA(hwnd, PBM_GETPOS, 0, 0));
  }
  if (info.kind == ZELUI_KIND_LISTBOX) {
    info.count = static_cast<int>(SendMessageA(hwnd, LB_GETCOUNT, 0, 0));
    info.selection = static_cast<int>(SendMessageA(hwnd, LB_GETCURSEL, 0, 0));
  }
  return true;
}

}  // namespace zel
