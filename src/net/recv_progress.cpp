// RecvProgress: filling the record and handing it to the installed sender.
#include "net/recv_progress.h"

#include <atomic>
#include <cstring>

#include "codec/encoded_word.h"
#include "codec/header_words.h"
#include "platform/sjis_text.h"
#include "window/window.h"

namespace zel {

namespace {
std::atomic<ProgressSender> installedSender{nullptr};

// The default: WM_COPYDATA with the record, handled before the call returns.
void SendAsCopyData(WindowHandle window, const RecvProgress& record) {
  SendCopyData(window, 0, kRecvProgressId, &record, static_cast<std::uint32_t>(sizeof record));
}

// Decodes one raw header value into a record field. The classic decoder
// never makes a text longer, so the raw text is cut to the field first; a
// conversion may (one Latin-1 byte becomes a two-byte mark), so its result
// is cut.
void DecodeInto(char (&field)[kProgressTextSize], const char* raw, DecodeMode mode) {
  if (mode == DecodeMode::kAnyCharset) {
    CopyBounded(field, decodeHeaderWords(raw != nullptr ? raw : ""));
    return;
  }
  char cut[kProgressTextSize];
  CopyBounded(cut, raw != nullptr ? raw : "");
  decodeHeaderLine(cut, field);
}
}  // namespace

ProgressSender SetProgressSender(ProgressSender sender) {
  return installedSender.exchange(sender);
}

void SendProgress(WindowHandle window, const RecvProgress& record) {
  const ProgressSender sender = installedSender.load();
  if (window != 0) (sender != nullptr ? sender : &SendAsCopyData)(window, record);
}

void FillRecvProgress(RecvProgress& record, int totalCount, int retrievedCount,
                      const char* rawSubject, const char* rawFrom, DecodeMode mode) {
  std::memset(&record, 0, sizeof record);
  record.totalCount = totalCount;
  record.retrievedCount = retrievedCount;
  DecodeInto(record.subject, rawSubject, mode);
  DecodeInto(record.from, rawFrom, mode);
}

}  // namespace zel
