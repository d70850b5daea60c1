// A stand-in library with zelInitialize and zelSendMailOne only: zelsend
// must refuse it as not loadable.
#include "zelpost.h"

extern "C" {
ZELPOST_API int ZELPOST_CALL zelInitialize(const char*, const char*, const char*, const char*,
                                           const char*, const char*) {
  return 1;
}
ZELPOST_API int ZELPOST_CALL zelSendMailOne(const char*, const char*) { return 1; }
}
