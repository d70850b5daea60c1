// BSTR arguments and results of the automation object as host text
// (Shift-JIS, the ANSI code page).
#pragma once

#include <string>
#include <string_view>

#include "automation/com_abi.h"

namespace zel::com {

// One BSTR argument as host text. A null BSTR is absent (get() gives
// nullptr), an empty one is "". The text is read up to its first NUL unit.
class HostText {
 public:
  // Converts `bstr`. Returns kOk, or kNoUnicodeTranslation for text the
  // code page cannot hold (then the argument stays absent).
  HResult Assign(Bstr bstr);
  const char* get() const { return present_ ? text_.c_str() : nullptr; }

 private:
  std::string text_;
  bool present_ = false;
};

// A new BSTR holding the host text `text` in *out, which the caller frees.
// Returns kOk, or kNoUnicodeTranslation / kOutOfMemory with *out nullptr.
HResult NewBstr(std::string_view text, Bstr* out);

// A new BSTR of UTF-16 `text`; nullptr when out of memory.
Bstr NewBstr(std::u16string_view text);

}  // namespace zel::com
