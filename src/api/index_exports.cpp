// Mailbox index exports. They use no session, touch no error state and
// write no log: their result is their only report.
#include "index/index_listing.h"
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

int ZELPOST_CALL zelPrintIndex(void* listWindow, const char* indexPath, const char* keyName, int insertAt,
                              int subjectWidth, int fromWidth, int dateWidth) {
  try {
    return zel::PrintIndex(reinterpret_cast<zel::WindowHandle>(listWindow), indexPath, keyName, insertAt,
                           subjectWidth, fromWidth, dateWidth);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
