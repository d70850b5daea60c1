// How received mail is decoded into display files (option DECODE).
#pragma once

namespace zel {

enum class DecodeMode {
  // The classic decoder: header lines and bodies in ISO-2022-JP (and ASCII)
  // only, everything else byte for byte as it came (DECODE 0).
  kClassic,
  // Encoded words, text bodies and attachment names in any charset and
  // transfer encoding (DECODE 1, the default).
  kAnyCharset,
};

}  // namespace zel
