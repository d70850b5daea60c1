#include "ops/receive_screen.h"

#include <string>

#include "api/inet_mail.h"
#include "platform/command.h"
#include "platform/log.h"

namespace zel {

bool Screens(const InetMail& s) { return s.killSize > 0 || !s.filterCommand.empty(); }

Screening ScreenMessage(InetMail& s, int number, std::size_t index) {
  const std::uint32_t octets = s.Listing().Octets(index);
  if (s.killSize > 0 && octets > static_cast<std::uint32_t>(s.killSize)) {
    if (s.Dele(number) != 1) {
      s.TakeFailure(s);
      s.SetError(-211, "削除に失敗");
      return Screening::kFailed;
    }
    ZEL_LOG(InetMail, "サイズ上限 %d バイトを超えるメッセージを受信せずに削除 [%d: %u バイト]", s.killSize, number, octets);
    return Screening::kDeleted;
  }
  if (s.filterCommand.empty()) return Screening::kFetch;
  std::string header;
  const int top = s.Top(number, 0, &header);
  if (top != 1) {
    s.TakeFailure(s);
    if (s.IsEnabled()) s.SetError(top, "受信に失敗");
    return Screening::kFailed;
  }
  CommandInput filter;
  int status = -1;
  if (filter.Start(s.filterCommand, s.timeoutSeconds)) {
    filter.Write(header.data(), header.size());
    status = filter.Finish();
  }
  switch (status) {
    case kFilterFetch:
      return Screening::kFetch;
    case kFilterLeave:
      ZEL_LOG(InetMail, "フィルタによりサーバに残す [%d]", number);
      return Screening::kLeave;
    case kFilterDelete:
      if (s.Dele(number) != 1) {
        s.TakeFailure(s);
        s.SetError(-211, "削除に失敗");
        return Screening::kFailed;
      }
      ZEL_LOG(InetMail, "フィルタにより受信せずに削除 [%d]", number);
      return Screening::kDeleted;
    default:
      ZEL_LOG(InetMail, "フィルタが使えないので受信する [%d: 終了コード %d]", number, status);
      return Screening::kFetch;
  }
}

}  // namespace zel
