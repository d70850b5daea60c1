/* zelpost_ui: the library's windows and dialogs as a host sees them on POSIX.
 *
 * On Linux libzelpost.so has no display: its windows, dialogs and list boxes
 * live in an in-process message layer (32-bit handles, one queue per thread,
 * sent and posted messages) and its dialogs are headless: their controls keep
 * their texts, ranges, positions, fonts and list entries. The functions here
 * let a host (and the tests) find those dialogs, read their controls, press
 * their buttons, answer the Save dialog and the Yes/No message box, and
 * create a list box for zelPrintIndex.
 *
 * A dialog handles a press or an answer on its own thread, which must be
 * pumping messages (as it does inside zelRecvMailAll or zelDialogAttach).
 * Reading never waits for that thread. Every function may be called from
 * any thread.
 *
 * On Windows the library uses the real user32 windows and a host uses the
 * Win32 API instead; there this header declares only the types and
 * constants, and none of the functions exists.
 */
#ifndef ZELPOST_UI_H
#define ZELPOST_UI_H

#include <stdint.h>

#include "zelpost.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A window of the message layer; 0 = none. zelPrintIndex takes it as its
 * window argument: (void*)(uintptr_t)handle. */
typedef unsigned int zeluiWindow;

/* Dialog identifiers besides the resource ids of the library's dialogs
 * (229 and 232: receive-all progress; 230: attachments). */
#define ZELUI_ANY_DIALOG 0
#define ZELUI_SAVE_DIALOG 0x10001 /* the standard Save dialog */
#define ZELUI_MESSAGE_BOX 0x10002 /* a message box */

/* Control ids: buttons, the Save dialog's file name, a message box's text. */
#define ZELUI_IDOK 1
#define ZELUI_IDCANCEL 2
#define ZELUI_IDYES 6
#define ZELUI_IDNO 7
#define ZELUI_SAVE_NAME 1152
#define ZELUI_MESSAGE_TEXT 0xFFFF

/* Kinds of window. */
#define ZELUI_KIND_WINDOW 1 /* a window of a registered class */
#define ZELUI_KIND_DIALOG 2
#define ZELUI_KIND_STATIC 3
#define ZELUI_KIND_EDIT 4
#define ZELUI_KIND_BUTTON 5
#define ZELUI_KIND_PROGRESS 6
#define ZELUI_KIND_LISTBOX 7

/* What a window shows, beside its text. Sizes in dialog units for dialogs
 * and their controls (pixels for other windows). */
typedef struct zeluiWindowInfo {
  int kind;            /* ZELUI_KIND_* */
  int id;              /* control id (-1: none); a dialog's dialog id */
  unsigned int style;  /* Win32 style bits (WS_*, SS_*, ES_*, BS_*, LBS_*) */
  int x, y, width, height; /* a control's place in its dialog; a dialog's size */
  int visible;         /* 1 when shown */
  char font[32];       /* the dialog's font face (Shift-JIS), "" for none */
  int fontPoints;      /* its size in points */
  int rangeLow, rangeHigh, position; /* progress bar */
  int count, selection;              /* list box: entries, selected index or -1 */
  int redraw;          /* list box: 0 after WM_SETREDRAW FALSE */
} zeluiWindowInfo;

#if !defined(_WIN32)

/* Number of the calling thread in the message layer (never 0). */
ZELPOST_API unsigned int zeluiThreadId(void);

/* The newest dialog with the dialog id `dialog` (ZELUI_ANY_DIALOG: any) of
 * the thread `thread` (0: any thread) that has finished its initialisation,
 * or 0 when there is none. */
ZELPOST_API zeluiWindow zeluiFindDialog(unsigned int thread, int dialog);

/* As zeluiFindDialog, waiting up to `timeoutMs` milliseconds for such a
 * dialog to appear. Returns 0 on time-out. */
ZELPOST_API zeluiWindow zeluiWaitDialog(unsigned int thread, int dialog, int timeoutMs);

/* Waits up to `timeoutMs` milliseconds for `window` to be destroyed.
 * Returns 1 when it no longer exists, 0 on time-out. */
ZELPOST_API int zeluiWaitGone(zeluiWindow window, int timeoutMs);

/* The control with id `id` of `dialog`, or 0. */
ZELPOST_API zeluiWindow zeluiGetDlgItem(zeluiWindow dialog, int id);

/* The `index`-th control of `dialog` in template order (labels without an
 * id included), or 0 past the last. */
ZELPOST_API zeluiWindow zeluiChildAt(zeluiWindow dialog, int index);

/* Fills `info` for `window`. Returns 1, or 0 when there is no such window. */
ZELPOST_API int zeluiGetInfo(zeluiWindow window, zeluiWindowInfo* info);

/* Copies the text of `window` (a dialog's title, a control's text) into
 * `buffer` of `size` bytes, NUL included, cut at a character boundary.
 * Returns the length copied, or -1 when there is no such window. */
ZELPOST_API int zeluiGetText(zeluiWindow window, char* buffer, int size);

/* Entry `index` of the list box `listBox`: its text into `buffer` as
 * zeluiGetText does (returns the length, or -1 for no such entry), its item
 * data into `*data` (returns 1, or 0 for no such entry). */
ZELPOST_API int zeluiListText(zeluiWindow listBox, int index, char* buffer, int size);
ZELPOST_API int zeluiListData(zeluiWindow listBox, int index, intptr_t* data);

/* Clicks the button `id` of `dialog` (ZELUI_IDYES or ZELUI_IDNO answer a
 * message box). Returns 1 when the click was queued, 0 when there is no
 * such dialog or button. */
ZELPOST_API int zeluiPressButton(zeluiWindow dialog, int id);

/* Selects entry `index` of the list box `listBox`, as a click on it does.
 * Returns 1 when the selection was queued, 0 when `listBox` is no list box
 * or has no such entry. */
ZELPOST_API int zeluiSelectEntry(zeluiWindow listBox, int index);

/* Answers the Save dialog `dialog`: chooses `path` (Shift-JIS), or cancels
 * when `path` is NULL. Returns 1 when the answer was queued, 0 when `dialog`
 * is no Save dialog. */
ZELPOST_API int zeluiAnswerSave(zeluiWindow dialog, const char* path);

/* Creates an empty list box (single selection, unsorted) owned by the
 * calling thread, for zelPrintIndex. Returns 0 on failure. */
ZELPOST_API zeluiWindow zeluiCreateListBox(void);

/* Destroys `window` (with its children). Only its owner thread may.
 * Returns 1 when destroyed. */
ZELPOST_API int zeluiDestroyWindow(zeluiWindow window);

#endif /* !_WIN32 */

#ifdef __cplusplus
}
#endif

#endif /* ZELPOST_UI_H */
