#include "automation/bstr_text.h"

#include "platform/com_runtime.h"
#include "platform/path_charset.h"

namespace zel::com {

HResult HostText::Assign(Bstr bstr) {
  present_ = false;
  text_.clear();
  if (bstr == nullptr) return kOk;
  std::u16string_view wide(bstr);
  if (!Utf16ToAnsi(wide, text_)) return kNoUnicodeTranslation;
  present_ = true;
  return kOk;
}

HResult NewBstr(std::string_view text, Bstr* out) {
  *out = nullptr;
  std::u16string wide;
  if (!AnsiToUtf16(text, wide)) return kNoUnicodeTranslation;
  *out = NewBstr(wide);
  return *out != nullptr ? kOk : kOutOfMemory;
}

Bstr NewBstr(std::u16string_view text) {
  return BstrAllocate(text.data(), static_cast<std::uint32_t>(text.size()));
}

}  // namespace zel::com
