#include "ui/attachment_dialog.h"

#include <string>

#include "codec/mail_file.h"
#include "platform/sjis_text.h"
#include "platform/file_ops.h"
#include "ui/dialog_ids.h"
#include "ui/dialog_templates.h"
#include "ui/host_part_files.h"

namespace zel {

namespace {

// The dialog object: lives for one call.
struct AttachmentDialog {
  char path[kPathSize] = {};
  HostPartFiles files;
  MailFile mail{files};
  int result = kAttachClosed;
};

// Fills the list; false (with the result set) when the dialog must end.
bool Initialise(WindowHandle dialog, AttachmentDialog& d) {
  if (!d.mail.open(d.path)) {
    d.result = kAttachNoFile;
    return false;
  }
  d.mail.parse();  // a missing closing delimiter still lists the parts read
  d.mail.close();
  const int parts = d.mail.partCount();
  if (parts == 1) {
    d.result = kAttachSinglePart;
    return false;
  }
  char name[kPathSize];
  for (int i = 1; i < parts; ++i) {
    SendItemMessage(dialog, ZEL_IDC_ATTACH_LIST, kLbAddString, 0,
                    reinterpret_cast<MessageLong>(d.mail.partFileName(i, name)));
  }
  SendItemMessage(dialog, ZEL_IDC_ATTACH_LIST, kLbSetCurSel, 0, 0);
  d.result = kAttachClosed;
  return true;
}

void Save(WindowHandle dialog, AttachmentDialog& d) {
  const MessageResult selected = SendItemMessage(dialog, ZEL_IDC_ATTACH_LIST, kLbGetCurSel, 0, 0);
  if (selected < 0) return;
  const MessageResult length = SendItemMessage(dialog, ZEL_IDC_ATTACH_LIST, kLbGetTextLen, selected, 0);
  if (length < 0) return;
  std::string name(static_cast<std::size_t>(length) + 1, '\0');
  SendItemMessage(dialog, ZEL_IDC_ATTACH_LIST, kLbGetText, selected, reinterpret_cast<MessageLong>(name.data()));
  char chosen[kPathSize];
  CopyBounded(chosen, name.c_str());
  if (!AskSavePath(dialog, "添付ファイルを保存", chosen, sizeof chosen)) return;
  // Any entry counts as existing, a dangling link or a FIFO too; the save
  // then replaces the entry itself (HostPartFiles), never opening it.
  if (PathExists(chosen) && AskYesNo(dialog, "上書きしますか", "添付ファイル保存") != kIdYes) return;
  d.mail.savePart(static_cast<int>(selected) + 1, chosen);  // a failure is logged, not shown
}

std::intptr_t AttachmentProc(WindowHandle dialog, unsigned message, MessageParam wParam, MessageLong lParam) {
  switch (message) {
    case kWmInitDialog: {
      auto* d = reinterpret_cast<AttachmentDialog*>(lParam);
      SetWindowData(dialog, d);
      if (!Initialise(dialog, *d)) EndModalDialog(dialog, kIdCancel);
      return 1;
    }
    case kWmCommand: {
      auto* d = static_cast<AttachmentDialog*>(WindowData(dialog));
      if (d == nullptr) return 0;
      const int id = CommandId(wParam);
      if (id == ZEL_IDC_ATTACH_SAVE) {
        Save(dialog, *d);
        return 1;
      }
      if (id == kIdCancel) {
        EndModalDialog(dialog, kIdCancel);
        return 1;
      }
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace

int RunAttachmentDialog(const char* path) {
  AttachmentDialog d;
  CopyBounded(d.path, path != nullptr ? path : "");
  if (RunModalDialog(kAttachmentTemplate, 0, &AttachmentProc, &d) == -1) return -1;
  return d.result;
}

}  // namespace zel
