// Dialogs and controls of the in-process message layer: headless windows
// whose controls keep their texts, ranges, positions, fonts and list
// entries (see window_registry.h).
#include <algorithm>
#include <string>

#include "window/posix/window_registry.h"

namespace zel {
namespace layer {
namespace {

int IndexParam(MessageParam wParam) {
  return static_cast<int>(static_cast<std::intptr_t>(wParam));
}

MessageResult ProgressMessage(WindowRecord& bar, unsigned message, MessageParam wParam,
                              MessageLong lParam) {
  switch (message) {
    case kPbmSetRange32: {
      const MessageResult previous = (bar.rangeHigh & 0xFFFF) << 16 | (bar.rangeLow & 0xFFFF);
      bar.rangeLow = IndexParam(wParam);
      bar.rangeHigh = static_cast<int>(lParam);
      bar.position = std::clamp(bar.position, bar.rangeLow, std::max(bar.rangeLow, bar.rangeHigh));
      return previous;
    }
    case kPbmSetPos: {
      const int previous = bar.position;
      bar.position = std::clamp(IndexParam(wParam), bar.rangeLow, std::max(bar.rangeLow, bar.rangeHigh));
      return previous;
    }
    case kPbmGetPos:
      return bar.position;
    default:
      return 0;
  }
}

MessageResult ListBoxMessage(WindowRecord& list, unsigned message, MessageParam wParam,
                             MessageLong lParam) {
  auto& entries = list.entries;
  const int count = static_cast<int>(entries.size());
  const int index = IndexParam(wParam);
  const bool valid = index >= 0 && index < count;
  switch (message) {
    case kLbAddString:
    case kLbInsertString: {
      const int at = message == kLbAddString || index == -1 ? count : index;
      if (at < 0 || at > count) return kLbErr;
      const char* text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
      entries.insert(entries.begin() + at, ListEntry{text, 0});
      if (list.selection >= at) ++list.selection;
      return at;
    }
    case kLbDeleteString:
      if (!valid) return kLbErr;
      entries.erase(entries.begin() + index);
      if (list.selection == index) list.selection = -1;
      if (list.selection > index) --list.selection;
      return count - 1;
    case kLbResetContent:
      entries.clear();
      list.selection = -1;
      return 0;
    case kLbSetCurSel:
      if (index == -1) list.selection = -1;
      if (!valid) return kLbErr;
      list.selection = index;
      return index;
    case kLbGetCurSel:
      return list.selection;
    case kLbGetText: {
      if (!valid) return kLbErr;
      const std::string& text = entries[index].text;
      return static_cast<MessageResult>(
          CopyTextOut(text, reinterpret_cast<char*>(lParam), text.size() + 1));
    }
    case kLbGetTextLen:
      return valid ? static_cast<MessageResult>(entries[index].text.size()) : kLbErr;
    case kLbGetCount:
      return count;
    case kLbGetItemData:
      return valid ? entries[index].data : kLbErr;
    case kLbSetItemData:
      if (index == -1) {
        for (auto& entry : entries) entry.data = lParam;
        return 1;
      }
      if (!valid) return kLbErr;
      entries[index].data = lParam;
      return 1;
    default:
      return 0;
  }
}

// Creates the records of a dialog and its controls and runs WM_INITDIALOG.
// Returns the dialog's handle, or 0 when `parent` is not a window.
WindowHandle CreateDialogWindow(const DialogTemplate& dialogTemplate, WindowHandle parent,
                                DialogProc proc, void* param) {
  const auto self = CurrentQueue();
  Registry& r = TheRegistry();
  std::unique_lock lock(r.mutex);
  if (parent != 0) {
    const auto parentRecord = FindLocked(parent);
    if (!parentRecord || parentRecord->destroying) {
      SetLastWindowError(kErrorInvalidWindowHandle);
      return 0;
    }
  }
  auto dialog = std::make_shared<WindowRecord>();
  dialog->kind = WindowKind::kDialog;
  dialog->owner = self;
  dialog->parent = parent;
  dialog->dialogProc = proc;
  dialog->id = dialogTemplate.resourceId;
  dialog->text = dialogTemplate.title != nullptr ? dialogTemplate.title : "";
  dialog->style = dialogTemplate.style & ~kWsVisible;
  dialog->width = dialogTemplate.width;
  dialog->height = dialogTemplate.height;
  dialog->fontFace = dialogTemplate.fontFace != nullptr ? dialogTemplate.fontFace : "";
  dialog->fontPoints = dialogTemplate.fontPoints;
  const WindowHandle handle = AddWindowLocked(dialog);
  for (std::size_t i = 0; i < dialogTemplate.controlCount; ++i) {
    const DialogControl& c = dialogTemplate.controls[i];
    auto control = std::make_shared<WindowRecord>();
    control->kind = static_cast<WindowKind>(c.kind);
    control->owner = self;
    control->parent = handle;
    control->id = c.id;
    control->text = c.text != nullptr ? c.text : "";
    control->style = c.style | kWsChild | kWsVisible;
    control->visible = true;
    control->x = c.x;
    control->y = c.y;
    control->width = c.width;
    control->height = c.height;
    AddWindowLocked(control);
  }
  const WindowHandle focus = dialog->children.empty() ? 0 : dialog->children.front();
  lock.unlock();
  Deliver(dialog, kWmInitDialog, focus, reinterpret_cast<MessageLong>(param));
  return handle;
}

// Marks `dialog` ready (and shown) unless it ended or went during its
// initialisation. Returns false in that case.
bool MarkReady(WindowHandle dialog, bool show) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto record = FindLocked(dialog);
  if (!record || record->ended) return false;
  record->ready = true;
  if (show) record->visible = true;
  r.changed.notify_all();
  return true;
}

std::string TextOf(WindowHandle window) {
  std::lock_guard lock(TheRegistry().mutex);
  const auto record = FindLocked(window);
  return record ? record->text : std::string();
}

// The Save dialog: answered through its name box and OK or Cancel.
struct SaveAnswer {
  bool chosen = false;
  std::string path;
};

std::intptr_t SaveDialogProc(WindowHandle dialog, unsigned message, MessageParam wParam,
                             MessageLong lParam) {
  if (message == kWmInitDialog) {
    SetWindowData(dialog, reinterpret_cast<void*>(lParam));
    return 1;
  }
  if (message != kWmCommand) return 0;
  auto* answer = static_cast<SaveAnswer*>(WindowData(dialog));
  const int id = CommandId(wParam);
  if (id == kIdOk) {
    answer->path = TextOf(DialogItem(dialog, ZELUI_SAVE_NAME));
    answer->chosen = true;
    EndModalDialog(dialog, kIdOk);
  } else if (id == kIdCancel) {
    EndModalDialog(dialog, kIdCancel);
  }
  return 1;
}

// The message box: Yes or No ends it; it has no Cancel.
std::intptr_t YesNoProc(WindowHandle dialog, unsigned message, MessageParam wParam, MessageLong) {
  if (message != kWmCommand) return message == kWmInitDialog ? 1 : 0;
  const int id = CommandId(wParam);
  if (id == kIdYes || id == kIdNo) EndModalDialog(dialog, id);
  return 1;
}

}  // namespace

MessageResult DeliverToDialog(const std::shared_ptr<WindowRecord>& record, unsigned message,
                              MessageParam wParam, MessageLong lParam) {
  const std::intptr_t handled =
      record->dialogProc != nullptr ? record->dialogProc(record->handle, message, wParam, lParam)
                                    : 0;
  if (handled != 0) return handled;
  switch (message) {
    case kWmClose:
      PostWindowMessage(record->handle, kWmCommand, CommandParam(kIdCancel, kBnClicked), 0);
      return 0;
    case kWmSetText:
    case kWmGetText:
    case kWmGetTextLength:
      return DefaultWindowProc(record->handle, message, wParam, lParam);
    default:
      return 0;
  }
}

MessageResult DeliverToControl(const std::shared_ptr<WindowRecord>& record, unsigned message,
                               MessageParam wParam, MessageLong lParam) {
  switch (message) {
    case kWmSetText:
    case kWmGetText:
    case kWmGetTextLength:
      return DefaultWindowProc(record->handle, message, wParam, lParam);
    default:
      break;
  }
  std::lock_guard lock(TheRegistry().mutex);
  if (message == kWmSetRedraw) {
    record->redraw = wParam != 0;
    return 0;
  }
  if (record->kind == WindowKind::kProgressBar) return ProgressMessage(*record, message, wParam, lParam);
  if (record->kind == WindowKind::kListBox) return ListBoxMessage(*record, message, wParam, lParam);
  return 0;
}

}  // namespace layer

using namespace layer;

WindowHandle CreateModelessDialog(const DialogTemplate& dialogTemplate, WindowHandle parent,
                                  DialogProc proc, void* param) {
  const WindowHandle dialog = CreateDialogWindow(dialogTemplate, parent, proc, param);
  if (dialog == 0 || !MarkReady(dialog, false)) return 0;
  return dialog;
}

std::intptr_t RunModalDialog(const DialogTemplate& dialogTemplate, WindowHandle owner,
                             DialogProc proc, void* param) {
  const WindowHandle dialog = CreateDialogWindow(dialogTemplate, owner, proc, param);
  if (dialog == 0) return -1;
  MarkReady(dialog, true);
  std::intptr_t result = 0;
  for (;;) {
    {
      std::lock_guard lock(TheRegistry().mutex);
      const auto record = FindLocked(dialog);
      if (!record) break;
      if (record->ended) {
        result = record->endResult;
        break;
      }
    }
    Message message;
    if (!GetNextMessage(message)) {
      PostQuit(static_cast<int>(message.wParam));
      break;
    }
    DispatchWindowMessage(message);
  }
  DestroyWindowTree(dialog);
  return result;
}

bool EndModalDialog(WindowHandle dialog, std::intptr_t result) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto record = FindLocked(dialog);
  if (!record || record->kind != WindowKind::kDialog) return false;
  record->ended = true;
  record->endResult = result;
  // Wakes the modal loop should it be waiting.
  record->owner->posted.push_back(Message{0, kWmNull, 0, 0});
  record->owner->wake.notify_all();
  return true;
}

WindowHandle DialogItem(WindowHandle dialog, int id) {
  std::lock_guard lock(TheRegistry().mutex);
  const auto record = FindLocked(dialog);
  if (!record) return 0;
  for (const WindowHandle child : record->children) {
    const auto control = FindLocked(child);
    if (control && (control->style & kWsChild) != 0 && control->id == id) return child;
  }
  return 0;
}

bool SetItemText(WindowHandle dialog, int id, const char* text) {
  const WindowHandle item = DialogItem(dialog, id);
  return item != 0 && SetWindowTextOf(item, text);
}

std::size_t GetItemText(WindowHandle dialog, int id, char* buffer, std::size_t size) {
  return WindowTextOf(DialogItem(dialog, id), buffer, size);
}

MessageResult SendItemMessage(WindowHandle dialog, int id, unsigned message, MessageParam wParam,
                              MessageLong lParam) {
  const WindowHandle item = DialogItem(dialog, id);
  return item != 0 ? SendWindowMessage(item, message, wParam, lParam) : 0;
}

void ShowWindowNormal(WindowHandle window) {
  std::lock_guard lock(TheRegistry().mutex);
  if (const auto record = FindLocked(window)) record->visible = true;
}

void CenterOnDesktop(WindowHandle) {}  // headless: no desktop

WindowHandle CreateListBox(WindowHandle parent) {
  auto record = std::make_shared<WindowRecord>();
  record->kind = WindowKind::kListBox;
  record->owner = CurrentQueue();
  record->parent = parent;
  record->style = kWsPopup | kWsBorder | kWsVScroll | kLbsNotify;
  std::lock_guard lock(TheRegistry().mutex);
  if (parent != 0 && !FindLocked(parent)) {
    SetLastWindowError(kErrorInvalidWindowHandle);
    return 0;
  }
  return AddWindowLocked(record);
}

bool AskSavePath(WindowHandle owner, const char* title, char* path, std::size_t size) {
  if (path == nullptr || size == 0) return false;
  const DialogControl controls[] = {
      {ControlKind::kEdit, ZELUI_SAVE_NAME, path, kEsAutoHScroll, 0, 0, 0, 0},
      {ControlKind::kButton, kIdOk, "保存(&S)", kBsDefPushButton, 0, 0, 0, 0},
      {ControlKind::kButton, kIdCancel, "キャンセル", 0, 0, 0, 0, 0},
  };
  const DialogTemplate dialogTemplate{ZELUI_SAVE_DIALOG, title, kWsPopup | kWsCaption | kWsSysMenu,
                                      0, 0, "", 0, controls, std::size(controls)};
  SaveAnswer answer;
  RunModalDialog(dialogTemplate, owner, &SaveDialogProc, &answer);
  if (!answer.chosen || answer.path.empty() || answer.path.size() >= size) return false;
  CopyTextOut(answer.path, path, size);
  return true;
}

int AskYesNo(WindowHandle owner, const char* text, const char* caption) {
  const DialogControl controls[] = {
      {ControlKind::kStatic, ZELUI_MESSAGE_TEXT, text, 0, 0, 0, 0, 0},
      {ControlKind::kButton, kIdYes, "はい(&Y)", kBsDefPushButton, 0, 0, 0, 0},
      {ControlKind::kButton, kIdNo, "いいえ(&N)", 0, 0, 0, 0, 0},
  };
  const DialogTemplate dialogTemplate{ZELUI_MESSAGE_BOX, caption, kWsPopup | kWsCaption | kWsSysMenu,
                                      0, 0, "", 0, controls, std::size(controls)};
  const std::intptr_t result = RunModalDialog(dialogTemplate, owner, &YesNoProc, nullptr);
  return result == kIdYes ? kIdYes : kIdNo;
}

WindowHandle ChildWindowAt(WindowHandle window, int index) {
  std::lock_guard lock(TheRegistry().mutex);
  const auto record = FindLocked(window);
  if (!record || index < 0) return 0;
  for (const WindowHandle child : record->children) {
    const auto control = FindLocked(child);
    if (!control || (control->style & kWsChild) == 0) continue;
    if (index-- == 0) return child;
  }
  return 0;
}

bool DescribeWindow(WindowHandle window, zeluiWindowInfo& info) {
  std::lock_guard lock(TheRegistry().mutex);
  const auto record = FindLocked(window);
  if (!record) return false;
  info = zeluiWindowInfo{};
  info.kind = static_cast<int>(record->kind);
  info.id = record->id;
  info.style = record->style;
  info.x = record->x;
  info.y = record->y;
  info.width = record->width;
  info.height = record->height;
  info.visible = record->visible;
  const auto dialog = record->kind == WindowKind::kDialog ? record : FindLocked(record->parent);
  if (dialog && dialog->kind == WindowKind::kDialog) {
    CopyTextOut(dialog->fontFace, info.font, sizeof info.font);
    info.fontPoints = dialog->fontPoints;
  }
  info.rangeLow = record->rangeLow;
  info.rangeHigh = record->rangeHigh;
  info.position = record->position;
  info.count = static_cast<int>(record->entries.size());
  info.selection = record->selection;
  info.redraw = record->redraw;
  return true;
}

}  // namespace zel
