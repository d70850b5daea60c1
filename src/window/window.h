// Window-message layer: window classes, windows, sent and posted messages,
// the message loop and WM_COPYDATA.
//
// On Windows every function is the user32 service of the same meaning. On
// POSIX they are an in-process stand-in with the same rules:
//  - every window belongs to the thread that created it; each thread that
//    uses the layer has its own queue;
//  - a sent message runs the window procedure on the owner thread and blocks
//    the sender until it has run; a message sent to the sender's own thread
//    runs at once; a sender blocked in SendWindowMessage (or waiting in
//    GetNextMessage or JoinThread) still handles the messages other threads
//    send to its own thread, so two threads sending to each other never
//    deadlock;
//  - a posted message is queued and returns at once; GetNextMessage hands
//    out posted messages in order and the quit message only after them;
//  - a window destroyed by DestroyWindowTree takes every window created with
//    it as parent along; each gets WM_DESTROY and then WM_NCDESTROY (its
//    children before itself); sends still pending for it return 0.
// Handles are 32-bit values on both backends (a host may store one in an
// int option).
#pragma once

#include <cstddef>
#include <cstdint>

#include "window/window_handle.h"

namespace zel {

using MessageParam = std::uintptr_t;  // WPARAM
using MessageLong = std::intptr_t;    // LPARAM
using MessageResult = std::intptr_t;  // LRESULT

// Message numbers: the Win32 values on both backends.
inline constexpr unsigned kWmNull = 0x0000;
inline constexpr unsigned kWmDestroy = 0x0002;
inline constexpr unsigned kWmSetRedraw = 0x000B;
inline constexpr unsigned kWmSetText = 0x000C;
inline constexpr unsigned kWmGetText = 0x000D;
inline constexpr unsigned kWmGetTextLength = 0x000E;
inline constexpr unsigned kWmPaint = 0x000F;
inline constexpr unsigned kWmClose = 0x0010;
inline constexpr unsigned kWmQuit = 0x0012;
inline constexpr unsigned kWmCopyData = 0x004A;
inline constexpr unsigned kWmNcDestroy = 0x0082;
inline constexpr unsigned kWmInitDialog = 0x0110;
inline constexpr unsigned kWmCommand = 0x0111;
inline constexpr unsigned kWmUser = 0x0400;

// Window styles (Win32 values) used by the windows and templates here.
inline constexpr std::uint32_t kWsPopup = 0x80000000;
inline constexpr std::uint32_t kWsChild = 0x40000000;
inline constexpr std::uint32_t kWsVisible = 0x10000000;
inline constexpr std::uint32_t kWsCaption = 0x00C00000;
inline constexpr std::uint32_t kWsBorder = 0x00800000;
inline constexpr std::uint32_t kWsDlgFrame = 0x00400000;
inline constexpr std::uint32_t kWsVScroll = 0x00200000;
inline constexpr std::uint32_t kWsSysMenu = 0x00080000;
inline constexpr std::uint32_t kWsPopupWindow = kWsPopup | kWsBorder | kWsSysMenu;

// Class styles: redraw the whole window when its width or height changes.
inline constexpr unsigned kCsVRedraw = 0x0001;
inline constexpr unsigned kCsHRedraw = 0x0002;

// Last-error numbers the POSIX backend sets (Win32 values).
inline constexpr unsigned long kErrorAccessDenied = 5;            // another thread's window
inline constexpr unsigned long kErrorInvalidWindowHandle = 1400;  // no such window
inline constexpr unsigned long kErrorClassAlreadyExists = 1410;
inline constexpr unsigned long kErrorClassDoesNotExist = 1411;
inline constexpr unsigned long kErrorClassHasWindows = 1412;

// A window procedure: runs on the window's owner thread; the result goes
// back to the sender of a sent message.
using WindowProc = MessageResult (*)(WindowHandle window, unsigned message, MessageParam wParam,
                                     MessageLong lParam);

// One message taken from a thread's queue.
struct Message {
  WindowHandle window = 0;  // 0: a message for the thread itself
  unsigned message = 0;
  MessageParam wParam = 0;
  MessageLong lParam = 0;
};

// The descriptor of WM_COPYDATA (Win32 COPYDATASTRUCT): lParam points to
// it. `data` is valid only while the message is handled.
struct CopyData {
  std::uintptr_t tag;   // identifier chosen by the sender
  std::uint32_t size;   // bytes at data
  const void* data;
};

// Registers the window class `name` (Win32: case-blind) with the procedure
// `proc` and the class style `classStyle` (kCs*): white background, no icon,
// cursor or menu. Returns false when a class of that name exists (error
// kErrorClassAlreadyExists) or the arguments are null.
bool RegisterWindowClass(const char* name, WindowProc proc, unsigned classStyle);

// Removes the class `name`. Returns false when there is no such class or a
// window of it still exists (kErrorClassHasWindows).
bool UnregisterWindowClass(const char* name);

// The last error number of a failed layer call on the calling thread
// (Win32: GetLastError).
unsigned long LastWindowError();

// Creates a hidden window of the class `className` owned by the calling
// thread: `title`, `style` (kWs*, kWsVisible is ignored), position and size
// in pixels, `parent` (0 = none; with kWsChild a child, else an owned
// popup). The procedure gets the messages of its creation (Win32) before
// this returns. Returns 0 when the class is unknown or `parent` is not a
// window (kErrorInvalidWindowHandle).
WindowHandle CreateHiddenWindow(const char* className, const char* title, std::uint32_t style,
                                int x, int y, int width, int height, WindowHandle parent);

// Destroys `window` with every window created with it as parent. Only the
// owner thread may (else false, kErrorAccessDenied). Returns false when
// `window` is not a window (a window destroyed twice: no effect).
bool DestroyWindowTree(WindowHandle window);

// True while `window` exists.
bool IsLiveWindow(WindowHandle window);

// Sends a message and returns the procedure's result once the owner thread
// has handled it (see the header comment). 0 when `window` is not a window
// or is destroyed before it handles the message.
MessageResult SendWindowMessage(WindowHandle window, unsigned message, MessageParam wParam,
                                MessageLong lParam);

// Queues a message for the owner thread of `window` (0: the calling
// thread's own queue) and returns at once. False when `window` is not a
// window.
bool PostWindowMessage(WindowHandle window, unsigned message, MessageParam wParam,
                       MessageLong lParam);

// Asks the calling thread's message loop to end: GetNextMessage returns
// false with `exitCode` once the messages posted before and after it have
// been taken.
void PostQuit(int exitCode);

// Waits for the next posted message of the calling thread, handling sent
// messages meanwhile. Returns true with the message in `out`, or false for
// the quit message (out.message kWmQuit, out.wParam the exit code).
bool GetNextMessage(Message& out);

// Translates and dispatches `message` to its window's procedure (on its
// owner thread, the caller's). Returns the procedure's result; 0 for a
// thread message or a window that no longer exists.
MessageResult DispatchWindowMessage(const Message& message);

// Default handling of a message the procedure does not handle itself:
// WM_SETTEXT/WM_GETTEXT keep the window text, WM_CLOSE destroys the
// window, everything else returns 0 (Win32: DefWindowProc).
MessageResult DefaultWindowProc(WindowHandle window, unsigned message, MessageParam wParam,
                                MessageLong lParam);

// One pointer of the caller's per window (dialogs included), 0 at creation.
void SetWindowData(WindowHandle window, void* data);
void* WindowData(WindowHandle window);

// Sets the window's text (through WM_SETTEXT). Returns true when set.
bool SetWindowTextOf(WindowHandle window, const char* text);

// Copies the window's text into `buffer` (`size` bytes, NUL included), cut
// at a character boundary. Returns the length copied; 0 for no window. On
// POSIX it reads the kept text directly, from any thread.
std::size_t WindowTextOf(WindowHandle window, char* buffer, std::size_t size);

// Paints `text` at `x`, `y` (pixels) as the whole answer to WM_PAINT
// (Win32: BeginPaint, TextOut, EndPaint). Nothing is drawn on POSIX.
void PaintWindowText(WindowHandle window, int x, int y, const char* text);

// Sends WM_COPYDATA (wParam `from`) with the descriptor {tag, size, data}
// to `window` and returns its result once it has been handled.
MessageResult SendCopyData(WindowHandle window, WindowHandle from, std::uintptr_t tag,
                           const void* data, std::uint32_t size);

}  // namespace zel
