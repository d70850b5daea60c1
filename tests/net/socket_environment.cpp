// Starts the socket library for the whole test program (Windows Sockets
// needs it before the first socket; POSIX only counts).
#include <gtest/gtest.h>

#include "platform/socket.h"

namespace {

class SocketEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(zel::SocketStartup(), 0); }
  void TearDown() override { zel::SocketCleanup(); }
};

const auto* const registered =
    ::testing::AddGlobalTestEnvironment(new SocketEnvironment);

}  // namespace
