// Mailbox index exports. The index is not built in this version: each
// export reports failure.
#include "zelpost.h"

extern "C" {

int ZELPOST_CALL zelMakeIndexMBX(const char*) { return 0; }  // not built yet

int ZELPOST_CALL zelMakeIndexWML(const char*) { return 0; }  // not built yet

int ZELPOST_CALL zelPrintIndex(void*, const char*, const char*, int, int, int, int) {
  return 0;  // not built yet
}

}  // extern "C"
