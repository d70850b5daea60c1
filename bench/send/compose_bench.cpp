// Composes one message with an attachment through zelSendMailDummy and
// prints the best wall time of a few runs in seconds ("SECONDS x").
//
// Usage: bench_send_compose SENDFILE ATTACHMENT OUTPUT [RUNS]
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "zelpost.h"

// <chrono> does not compile with the Shift-JIS execution character set.
static double Now() {
  std::timespec ts{};
  std::timespec_get(&ts, TIME_UTC);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_send_compose SENDFILE ATTACHMENT OUTPUT [RUNS]\n");
    return 2;
  }
  const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
  if (zelInitialize("127.0.0.1", "127.0.0.1", "user", "pass", "bench@example.jp", "Bench") != 1) {
    return 1;
  }
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const double start = Now();
    if (zelSendMailDummy(argv[1], argv[2], argv[3]) != 1) {
      char error[256] = {};
      zelGetErrorStr(error, sizeof error);
      std::fprintf(stderr, "compose failed: %s\n", error);
      return 1;
    }
    const double took = Now() - start;
    if (took < best) best = took;
  }
  std::printf("SECONDS %.6f\n", best);
  return 0;
}
