// RecvProgress: filling the record and handing it to the installed sender.
#include "net/recv_progress.h"

#include <atomic>
#include <cstring>

#include "codec/encoded_word.h"
#include "codec/sjis_text.h"

namespace zel {

namespace {
std::atomic<ProgressSender> installedSender{nullptr};

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
  if (window != 0 && sender != nullptr) sender(window, record);
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
