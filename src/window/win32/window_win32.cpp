// The window-message layer on Windows: user32 itself. Procedures of the
// layer's type are reached through one thunk per kind (the x86 CALLBACK
// convention differs from the layer's).
#include "window/window.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/ascii_case.h"
#include "platform/win32/own_module.h"

namespace zel {
namespace {

static_assert(kWmDestroy == WM_DESTROY && kWmNcDestroy == WM_NCDESTROY && kWmQuit == WM_QUIT);
static_assert(kWmSetText == WM_SETTEXT && kWmGetText == WM_GETTEXT && kWmClose == WM_CLOSE);
static_assert(kWmCopyData == WM_COPYDATA && kWmCommand == WM_COMMAND && kWmUser == WM_USER);
static_assert(kWmInitDialog == WM_INITDIALOG && kWmSetRedraw == WM_SETREDRAW && kWmPaint == WM_PAINT);
static_assert(kWsPopupWindow == WS_POPUPWINDOW && kWsDlgFrame == WS_DLGFRAME && kWsChild == WS_CHILD);
static_assert(kCsHRedraw == CS_HREDRAW && kCsVRedraw == CS_VREDRAW);
static_assert(sizeof(CopyData) == sizeof(COPYDATASTRUCT) &&
              offsetof(CopyData, size) == offsetof(COPYDATASTRUCT, cbData) &&
              offsetof(CopyData, data) == offsetof(COPYDATASTRUCT, lpData));

// The layer procedure of each registered class, by lower-case name: it
// travels to the window through CreateWindowEx's creation parameter.
std::mutex classMutex;
std::map<std::string, WindowProc> classProcs;

constexpr int kProcSlot = 0;  // window extra bytes: the layer procedure

std::string ClassKey(const char* name) {
  std::string key(name);
  for (char& c : key) c = lowerAscii(c);
  return key;
}

LRESULT CALLBACK WindowThunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, kProcSlot, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  const auto proc = reinterpret_cast<WindowProc>(GetWindowLongPtrA(window, kProcSlot));
  if (proc == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return proc(reinterpret_cast<WindowHandle>(window), message, wParam, lParam);
}

HWND Hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

bool RegisterWindowClass(const char* name, WindowProc proc, unsigned classStyle) {
  if (name == nullptr || *name == '\0' || proc == nullptr) return false;
  WNDCLASSA wc{};
  wc.style = classStyle;
  wc.lpfnWndProc = &WindowThunk;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = OwnModule();
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = name;
  if (RegisterClassA(&wc) == 0) return false;
  std::lock_guard lock(classMutex);
  classProcs[ClassKey(name)] = proc;
  return true;
}

bool UnregisterWindowClass(const char* name) {
  if (name == nullptr || UnregisterClassA(name, OwnModule()) == 0) return false;
  std::lock_guard lock(classMutex);
  classProcs.erase(ClassKey(name));
  return true;
}

unsigned long LastWindowError() { return GetLastError(); }

WindowHandle CreateHiddenWindow(const char* className, const char* title, std::uint32_t style,
                                int x, int y, int width, int height, WindowHandle parent) {
  if (className == nullptr) return 0;
  WindowProc proc = nullptr;
  {
    std::lock_guard lock(classMutex);
    const auto it = classProcs.find(ClassKey(className));
    if (it != classProcs.end()) proc = it->second;
  }
  if (proc == nullptr) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return 0;
  }
  const HWND window = CreateWindowExA(0, className, title, style & ~WS_VISIBLE, x, y, width, height,
                                     Hwnd(parent), nullptr, OwnModule(),
                                     reinterpret_cast<void*>(proc));
  return reinterpret_cast<WindowHandle>(window);
}

bool DestroyWindowTree(WindowHandle window) { return DestroyWindow(Hwnd(window)) != 0; }

bool IsLiveWindow(WindowHandle window) { return window != 0 && IsWindow(Hwnd(window)) != 0; }

MessageResult SendWindowMessage(WindowHandle window, unsigned message, MessageParam wParam,
                                MessageLong lParam) {
  return SendMessageA(Hwnd(window), message, wParam, lParam);
}

bool PostWindowMessage(WindowHandle window, unsigned message, MessageParam wParam,
                       MessageLong lParam) {
  return PostMessageA(Hwnd(window), message, wParam, lParam) != 0;
}

void PostQuit(int exitCode) { PostQuitMessage(exitCode); }

bool GetNextMessage(Message& out) {
  MSG msg{};
  const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
  out = Message{reinterpret_cast<WindowHandle>(msg.hwnd), msg.message, msg.wParam, msg.lParam};
  if (got == -1) out = Message{0, kWmQuit, 0, 0};  // no queue: nothing to wait for
  return got > 0;
}

MessageResult DispatchWindowMessage(const Message& message) {
  MSG msg{};
  msg.hwnd = Hwnd(message.window);
  msg.message = message.message;
  msg.wParam = message.wParam;
  msg.lParam = message.lParam;
  TranslateMessage(&msg);
  return DispatchMessageA(&msg);
}

MessageResult DefaultWindowProc(WindowHandle window, unsigned message, MessageParam wParam,
                                MessageLong lParam) {
  return DefWindowProcA(Hwnd(window), message, wParam, lParam);
}

void SetWindowData(WindowHandle window, void* data) {
  SetWindowLongPtrA(Hwnd(window), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
}

void* WindowData(WindowHandle window) {
  return reinterpret_cast<void*>(GetWindowLongPtrA(Hwnd(window), GWLP_USERDATA));
}

bool SetWindowTextOf(WindowHandle window, const char* text) {
  return SetWindowTextA(Hwnd(window), text) != 0;
}

std::size_t WindowTextOf(WindowHandle window, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = '\0';
  const int n = GetWindowTextA(Hwnd(window), buffer, static_cast<int>(std::min<std::size_t>(size, 0x7FFFFFFF)));
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void PaintWindowText(WindowHandle window, int x, int y, const char* text) {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(Hwnd(window), &paint);
  if (dc != nullptr && text != nullptr) TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text)));
  EndPaint(Hwnd(window), &paint);
}

MessageResult SendCopyData(WindowHandle window, WindowHandle from, std::uintptr_t tag,
                           const void* data, std::uint32_t size) {
  COPYDATASTRUCT descriptor{tag, size, const_cast<void*>(data)};
  return SendMessageA(Hwnd(window), WM_COPYDATA, from, reinterpret_cast<LPARAM>(&descriptor));
}

}  // namespace zel
