// A workload for profiling receive-all (scripts/bench-recv.sh times the
// zelrecv program): one run of a host, without a dialog (SILENT), keeping
// the mail on the server.
//
//   bench_recv SERVER USER PASSWORD LISTFILE MAILDIR [SEENFILE]
//
// SERVER is "host:port". With BENCH_PROTOCOL=1 in the environment the run
// goes over IMAP (option PROTOCOL). Prints "stored N"; exit status 1 on
// failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zelpost.h"

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: bench_recv SERVER USER PASSWORD LISTFILE MAILDIR [SEENFILE]\n");
    return 2;
  }
  if (zelInitialize(argv[1], "127.0.0.1", argv[2], argv[3], "bench@zelpost.test", "") != 1) {
    return 1;
  }
  zelSetValueInt("SILENT", 1);
  zelSetValueInt("DELE", 0);
  const char* protocol = std::getenv("BENCH_PROTOCOL");
  zelSetValueInt("PROTOCOL", protocol != nullptr && std::strcmp(protocol, "1") == 0 ? 1 : 0);
  const int stored = zelRecvMailAll(argv[4], argv[5], argc == 7 ? argv[6] : nullptr, nullptr);
  char error[256] = "";
  zelGetErrorStr(error, sizeof error);
  std::printf("stored %d\n", stored);
  if (stored < 0 || zelGetErrorInt() != 0) {
    std::fprintf(stderr, "error %d %s\n", zelGetErrorInt(), error);
    return 1;
  }
  return 0;
}
