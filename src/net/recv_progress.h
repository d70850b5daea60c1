// RecvProgress delivery: the POP3 client fills one record per retrieved
// message and sends it to the progress window.
//
// By default a record goes to the window synchronously as WM_COPYDATA
// through the window-message layer; SetProgressSender replaces that sender
// (tests record the records instead).
#pragma once

#include "codec/decode_mode.h"
#include "codec/recv_progress_record.h"
#include "window/window_handle.h"

namespace zel {

// Delivers `record` to `window` synchronously (the call returns when the
// window has handled it); the record is valid only during the call.
using ProgressSender = void (*)(WindowHandle window, const RecvProgress& record);

// Installs a process-wide sender in place of the WM_COPYDATA one (nullptr
// restores that). Returns the one installed before (nullptr: the default).
ProgressSender SetProgressSender(ProgressSender sender);

// Sends `record` to `window` through the installed sender; does nothing
// when `window` is 0.
void SendProgress(WindowHandle window, const RecvProgress& record);

// Fills `record` from the counts and the raw captured Subject and From
// values, each decoded to Shift-JIS (classic: ISO-2022-JP words only) and
// cut to its field at a character boundary.
void FillRecvProgress(RecvProgress& record, int totalCount, int retrievedCount,
                      const char* rawSubject, const char* rawFrom,
                      DecodeMode mode = DecodeMode::kAnyCharset);

}  // namespace zel
