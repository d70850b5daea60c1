// Resource and control ids of the library's dialogs. Plain #defines: the
// resource script (win32/dialogs.rc) includes this file as well.
#ifndef ZEL_UI_DIALOG_IDS_H
#define ZEL_UI_DIALOG_IDS_H

// Dialog resources.
#define ZEL_IDD_RECEIVE_PROGRESS 229  // ReceiveProgressDialog
#define ZEL_IDD_ATTACHMENT 230        // AttachmentDialog
#define ZEL_IDD_PROGRESS_BAR 232      // ProgressBarDialog

// Controls of the progress dialogs (Cancel is IDCANCEL, 2).
#define ZEL_IDC_COUNTS 1000    // "%3d / %3d"
#define ZEL_IDC_SENDER 1001    // From of the message being fetched
#define ZEL_IDC_SUBJECT 1002   // its Subject
#define ZEL_IDC_PROGRESS 1006  // progress bar (232 only)

// Controls of the attachment dialog (Close is IDCANCEL, 2).
#define ZEL_IDC_ATTACH_LIST 1001   // list box of attachment names
#define ZEL_IDC_ATTACH_SAVE 57601  // Save button

#endif  // ZEL_UI_DIALOG_IDS_H
