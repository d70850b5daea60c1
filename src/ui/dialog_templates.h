// The templates of the library's dialogs: the data the POSIX message layer
// builds them from. On Windows the dialog resources of dialogs.rc of the
// same ids are used; the tests check that both describe the same dialogs.
#pragma once

#include "ui/dialog_ids.h"
#include "window/dialog.h"

namespace zel {

extern const DialogTemplate kReceiveProgressTemplate;  // 229, "zelpostw"
extern const DialogTemplate kProgressBarTemplate;      // 232, "zelsend"
extern const DialogTemplate kAttachmentTemplate;       // 230, "添付ファイル一覧"

}  // namespace zel
