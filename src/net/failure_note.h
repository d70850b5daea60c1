// Why an operation failed, in plain words: the kind of failure and a text
// for the user (the server's reply line, or the system's reason).
//
// The channel and the clients note the reason where they see it; the
// session hands it to the host as ERRDETAIL and ERRCLASS. Texts are
// Shift-JIS, cut at a character boundary to fit.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/sjis_text.h"

namespace zel {

// The kinds of failure; the numbers are those of the ERRCLASS option.
enum class FailureKind : int {
  kNone = 0,
  kNoHost = 1,     // the server's name does not resolve
  kRefused = 2,    // no connection: refused, unreachable
  kTimedOut = 3,   // the server did not answer in time
  kTls = 4,        // no trusted encrypted connection came about
  kAuth = 5,       // the login or authentication was refused
  kTemporary = 6,  // the server or the resolver failed for now
  kServer = 7,     // the server refused a command, broke the protocol or hung up
  kLocal = 8,      // a local file or resource failed
  kSetting = 9,    // a missing or unusable setting
};

// Longest reason kept, NUL included: a whole reply line of the usual size.
inline constexpr std::size_t kFailureTextSize = kLineSize;

struct FailureNote {
  FailureKind kind = FailureKind::kNone;
  char text[kFailureTextSize] = {};

  void Clear() {
    kind = FailureKind::kNone;
    text[0] = '\0';
  }
  bool Empty() const { return kind == FailureKind::kNone && text[0] == '\0'; }
  // Sets the kind and the text (printf conventions).
  void Set(FailureKind failure, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  void SetV(FailureKind failure, const char* format, va_list args);
};

}  // namespace zel
