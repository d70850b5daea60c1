// Mailbox index exports. They use no session, touch no error state and
// write no log: their result is their only report.
#include "index/mailbox_index.h"
#include "zelpost.h"

extern "C" {

int ZELPOST_CALL zelMakeIndexMBX(const char* mailboxPath) {
  try {
    return zel::MakeMailboxIndex(mailboxPath);
  } catch (...) {
    return 0;
  }
}

int ZELPOST_CALL zelMakeIndexWML(const char* folderPath) {
  try {
    return zel::CheckMailFolder(folderPath);
  } catch (...) {
    return 0;
  }
}

int ZELPOST_CALL zelPrintIndex(void*, const char*, const char*, int, int, int, int) {
  return 0;  // not built yet
}

}  // extern "C"
