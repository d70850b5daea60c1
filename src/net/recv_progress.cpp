// RecvProgress: filling the record and handing it to the installed sender.
#include "net/recv_progress.h"

#include <atomic>
#include <cstring>

#include "codec/encoded_word.h"
#include "codec/sjis_text.h"
#include "platform/window.h"

namespace zel {

namespace {
std::atomic<ProgressSender> installedSender{nullptr};

// The default: WM_COPYDATA with the record, handled before the call returns.
void SendAsCopyData(WindowHandle window, const RecvProgress& record) {
  SendCopyData(window, 0, kRecvProgressId, &record, static_cast<std::uint32_t>(sizeof record));
}

// Decodes one raw header value into a record field: the raw text is first cut
// to the field, since decoding never makes a text longer.
void DecodeInto(char (&field)[kProgressTextSize], const char* raw) {
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
                      const char* rawSubject, const char* rawFrom) {
  std::memset(&record, 0, sizeof record);
  record.totalCount = totalCount;
  record.retrievedCount = retrievedCount;
  DecodeInto(record.subject, rawSubject);
  DecodeInto(record.from, rawFrom);
}

}  // namespace zel
