// Workloads of scripts/bench-net.sh, timed by the script as whole processes
// (like the fetchmail and msmtp anchors it runs side by side).
//
//   bench_net pop3 SERVER USER PASSWORD OUTDIR
//       one USER/PASS login, NextMessage + Retr of every message into
//       OUTDIR/msgN, QUIT (messages stay on the server)
//   bench_net pop3s SERVER USER PASSWORD OUTDIR CAFILE
//       the same over implicit TLS, the server verified against CAFILE
//   bench_net smtp SERVER COUNT MESSAGEFILE RECIPIENT
//       COUNT times Open / Deliver / Quit of the prepared message file
//
// SERVER is "host:port". Prints the count handled; exit status 1 on failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/inet_pop3.h"
#include "net/inet_smtp.h"
#include "platform/socket.h"

namespace {

int Pop3(const char* server, const char* user, const char* password,
         const std::string& outDir, const char* caFile) {
  zel::InetPop3 client;
  if (caFile != nullptr) client.SetTls(zel::kTlsImplicit, caFile);
  const int login = client.Login(server, 110, user, password, 0);
  if (login != 1) {
    std::fprintf(stderr, "login failed: %d\n", login);
    return 1;
  }
  int count = 0;
  for (;;) {
    const int n = client.NextMessage();
    if (n == 0) break;
    if (n < 0) {
      std::fprintf(stderr, "listing failed: %d\n", n);
      return 1;
    }
    const std::string path = outDir + "/msg" + std::to_string(n);
    const int r = client.Retr(n, path.c_str());
    if (r != 1) {
      std::fprintf(stderr, "RETR %d failed: %d\n", n, r);
      return 1;
    }
    ++count;
  }
  client.Quit();
  std::printf("retrieved %d\n", count);
  return 0;
}

int Smtp(const char* server, int count, const char* messagePath,
         const char* recipient) {
  zel::InetSmtp client;
  for (int i = 0; i < count; ++i) {
    std::vector<char> recipients(recipient, recipient + std::strlen(recipient) + 1);
    int r = client.Open(server, 25, "bench.zelpost.test");
    if (r == 1) r = client.Deliver("bench@zelpost.test", recipients.data(), messagePath);
    client.Quit();
    if (r != 1) {
      std::fprintf(stderr, "message %d failed: %d\n", i + 1, r);
      return 1;
    }
  }
  std::printf("sent %d\n", count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  zel::SocketStartup();
  int status = 2;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "pop3" && argc == 6) {
    status = Pop3(argv[2], argv[3], argv[4], argv[5], nullptr);
  } else if (mode == "pop3s" && argc == 7) {
    status = Pop3(argv[2], argv[3], argv[4], argv[5], argv[6]);
  } else if (mode == "smtp" && argc == 6) {
    status = Smtp(argv[2], std::atoi(argv[3]), argv[4], argv[5]);
  } else {
    std::fprintf(stderr,
                 "usage: bench_net pop3 SERVER USER PASSWORD OUTDIR\n"
                 "       bench_net pop3s SERVER USER PASSWORD OUTDIR CAFILE\n"
                 "       bench_net smtp SERVER COUNT MESSAGEFILE RECIPIENT\n");
  }
  zel::SocketCleanup();
  return status;
}
