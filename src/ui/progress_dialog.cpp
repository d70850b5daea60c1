// ReceiveProgressDialog (229) and ProgressBarDialog (232): one procedure,
// the bar only where the template has one.
#include "ui/progress_dialog.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "codec/recv_progress_record.h"
#include "ui/dialog_templates.h"

namespace zel {
namespace {

class ProgressDialog {
 public:
  explicit ProgressDialog(WindowHandle notifyWindow) : notifyWindow_(notifyWindow) {}

  static std::intptr_t Proc(WindowHandle dialog, unsigned message, MessageParam wParam,
                            MessageLong lParam);

 private:
  // "%3d / %3d" into the counts.
  static void ShowCounts(WindowHandle dialog, int current, int total);
  static void ShowRecord(WindowHandle dialog, const CopyData& data);

  WindowHandle notifyWindow_;  // the control window: Cancel is reported there
};

void ProgressDialog::ShowCounts(WindowHandle dialog, int current, int total) {
  char counts[32];
  std::snprintf(counts, sizeof counts, "%3d / %3d", current, total);
  SetItemText(dialog, ZEL_IDC_COUNTS, counts);
}

void ProgressDialog::ShowRecord(WindowHandle dialog, const CopyData& data) {
  if (data.tag != kRecvProgressId || data.size != kRecvProgressSize || data.data == nullptr) return;
  RecvProgress record;
  std::memcpy(&record, data.data, sizeof record);
  // A record from elsewhere may lack the NULs of its texts.
  record.subject[kProgressTextSize - 1] = '\0';
  record.from[kProgressTextSize - 1] = '\0';
  ShowCounts(dialog, record.retrievedCount, record.totalCount);
  SendItemMessage(dialog, ZEL_IDC_PROGRESS, kPbmSetPos,
                  static_cast<MessageParam>(record.retrievedCount), 0);
  SetItemText(dialog, ZEL_IDC_SUBJECT, record.subject);
  SetItemText(dialog, ZEL_IDC_SENDER, record.from);
}

std::intptr_t ProgressDialog::Proc(WindowHandle dialog, unsigned message, MessageParam wParam,
                                   MessageLong lParam) {
  auto* self = static_cast<ProgressDialog*>(WindowData(dialog));
  switch (message) {
    case kWmInitDialog:
      SetWindowData(dialog, reinterpret_cast<void*>(lParam));
      CenterOnDesktop(dialog);
      return 1;
    case kProgressNotify:
      if (wParam == kNotifyTotal) {
        const int total = static_cast<int>(lParam);
        // 32-bit range: a maildrop of more than 65535 messages keeps a true bar.
        SendItemMessage(dialog, ZEL_IDC_PROGRESS, kPbmSetRange32, 0, total);
        ShowCounts(dialog, 0, total);
      }
      return 0;
    case kWmCopyData:
      if (lParam != 0) ShowRecord(dialog, *reinterpret_cast<const CopyData*>(lParam));
      return 0;
    case kWmCommand:
      if (CommandId(wParam) != kIdCancel || self == nullptr) return 0;
      PostWindowMessage(self->notifyWindow_, kProgressNotify, kNotifyCancel, 0);
      DestroyWindowTree(dialog);  // frees `self`
      return 1;
    case kWmNcDestroy:
      SetWindowData(dialog, nullptr);
      delete self;
      return 0;
    default:
      return 0;
  }
}

}  // namespace

WindowHandle CreateProgressDialog(WindowHandle notifyWindow, int executeType) {
  const DialogTemplate& dialogTemplate =
      executeType == 1 ? kReceiveProgressTemplate : kProgressBarTemplate;
  auto object = std::make_unique<ProgressDialog>(notifyWindow);
  const WindowHandle dialog =
      CreateModelessDialog(dialogTemplate, notifyWindow, &ProgressDialog::Proc, object.get());
  if (dialog == 0) return 0;
  object.release();  // the dialog owns it from WM_INITDIALOG on
  ShowWindowNormal(dialog);
  return dialog;
}

}  // namespace zel
