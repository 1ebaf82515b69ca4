#include "net/socket/SocketInitializerImpl.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(SocketInitializerImplTest, SigpipeIsIgnoredWhileAndAfterItLives) {
    struct sigaction original {};
    ASSERT_EQ(0, ::sigaction(SIGPIPE, nullptr, &original));
    signal(SIGPIPE, SIG_DFL);
    struct sigaction current {};
    {
        net::socket::SocketInitializerImpl initializer;
        ASSERT_EQ(0, ::sigaction(SIGPIPE, nullptr, &current));
        EXPECT_EQ(SIG_IGN, current.sa_handler);
        EXPECT_EQ(0, ::raise(SIGPIPE));  // would end the process with the default action
    }
    ASSERT_EQ(0, ::sigaction(SIGPIPE, nullptr, &current));
    EXPECT_EQ(SIG_IGN, current.sa_handler);
    ::sigaction(SIGPIPE, &original, nullptr);
}

}  // namespace
