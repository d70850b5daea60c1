// Templates of the progress and attachment dialogs (dialog units). dialogs.rc holds the
// same dialogs as Windows resources.
#include "ui/dialog_templates.h"

#include <iterator>

namespace zel {
namespace {

// Popup with caption, system menu and modal frame, shown by its creator.
constexpr std::uint32_t kDialogStyle = kDsModalFrame | kWsPopup | kWsCaption | kWsSysMenu;
// The styles the resource compiler gives LTEXT, RTEXT, CTEXT, EDITTEXT,
// PUSHBUTTON and DEFPUSHBUTTON.
constexpr std::uint32_t kLeftText = kWsGroup;
constexpr std::uint32_t kRightText = kSsRight | kWsGroup;
constexpr std::uint32_t kCentredText = kSsCenter | kWsGroup;
constexpr std::uint32_t kEditBox = kWsBorder | kWsTabStop;
constexpr std::uint32_t kButton = kWsTabStop;
constexpr std::uint32_t kDefaultButton = kBsDefPushButton | kWsTabStop;
constexpr char kDialogFont[] = "ＭＳ Ｐゴシック";

constexpr DialogControl kReceiveProgressControls[] = {
    {ControlKind::kButton, kIdCancel, "キャンセル", kDefaultButton, 40, 58, 50, 14},
    {ControlKind::kStatic, kIdStatic, "受信中 ：", kRightText, 5, 10, 28, 8},
    {ControlKind::kStatic, ZEL_IDC_COUNTS, "000 / 000", kLeftText, 35, 10, 60, 8},
    {ControlKind::kStatic, kIdStatic, "件名 ：", kRightText, 5, 25, 21, 8},
    {ControlKind::kStatic, ZEL_IDC_SUBJECT, "", kLeftText, 35, 25, 95, 8},
    {ControlKind::kStatic, kIdStatic, "差出人 ：", kRightText, 5, 40, 28, 8},
    {ControlKind::kStatic, ZEL_IDC_SENDER, "", kLeftText, 35, 40, 95, 8},
};

constexpr DialogControl kProgressBarControls[] = {
    {ControlKind::kStatic, ZEL_IDC_COUNTS, "000/000", kCentredText, 7, 7, 29, 10},
    {ControlKind::kProgressBar, ZEL_IDC_PROGRESS, "", kWsBorder, 43, 7, 237, 10},
    {ControlKind::kEdit, ZEL_IDC_SUBJECT, "", kEditBox | kEsAutoHScroll | kEsReadOnly, 7, 21, 227, 12},
    {ControlKind::kEdit, ZEL_IDC_SENDER, "", kEditBox | kEsAutoHScroll | kEsReadOnly, 7, 36, 227, 12},
    {ControlKind::kButton, kIdCancel, "ｷｬﾝｾﾙ", kButton, 241, 21, 39, 14},
};

constexpr DialogControl kAttachmentControls[] = {
    {ControlKind::kButton, ZEL_IDC_ATTACH_SAVE, "保存(&S)", kDefaultButton, 105, 7, 42, 14},
    {ControlKind::kButton, kIdCancel, "閉じる", kButton, 105, 24, 42, 14},
    {ControlKind::kListBox, ZEL_IDC_ATTACH_LIST, "", kLbsNotify | kLbsNoIntegralHeight | kWsVScroll | kWsBorder | kWsTabStop,
     7, 7, 94, 74},
};

}  // namespace

const DialogTemplate kReceiveProgressTemplate{
    ZEL_IDD_RECEIVE_PROGRESS, "zelpostw", kDialogStyle, 134, 80, kDialogFont, 12,
    kReceiveProgressControls, std::size(kReceiveProgressControls)};

const DialogTemplate kProgressBarTemplate{
    ZEL_IDD_PROGRESS_BAR, "zelsend", kDialogStyle, 287, 55, kDialogFont, 9,
    kProgressBarControls, std::size(kProgressBarControls)};

const DialogTemplate kAttachmentTemplate{
    ZEL_IDD_ATTACHMENT, "添付ファイル一覧", kDialogStyle, 154, 88, kDialogFont, 12,
    kAttachmentControls, std::size(kAttachmentControls)};

}  // namespace zel
