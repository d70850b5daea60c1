// One run of an index or attachment operation, for scripts/bench-index.sh,
// which times whole processes against grep and base64 -d.
//
//   bench_index index MAILBOX            the index of MAILBOX (none before)
//   bench_index save MESSAGE PART OUTPUT part PART of the display file MESSAGE
//
// Exits 0 when the operation succeeded.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/mail_file.h"
#include "index/mailbox_index.h"
#include "ui/host_part_files.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "index") == 0) return zel::MakeMailboxIndex(argv[2]) == 1 ? 0 : 1;
  if (argc == 5 && std::strcmp(argv[1], "save") == 0) {
    zel::HostPartFiles files;
    zel::MailFile mail(files);
    if (!mail.open(argv[2])) return 1;
    mail.parse();
    mail.close();
    return mail.savePart(std::atoi(argv[3]), argv[4]) == 1 ? 0 : 1;
  }
  std::fprintf(stderr, "usage: bench_index index MAILBOX | save MESSAGE PART OUTPUT\n");
  return 2;
}
