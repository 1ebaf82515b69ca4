#include "net/socket/SocketCloser.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "net/socket/SocketExceptions.h"

namespace {

using net::socket::SocketCloser;

bool isOpen(int descriptor) { return ::fcntl(descriptor, F_GETFD) != -1; }

// The number of a closed descriptor comes back for the next open: a second close must leave that
// file alone, as must a failed close, which forgets the descriptor as well.
TEST(SocketCloserTest, ClosesOnceAndForgetsTheDescriptor) {
    const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    SocketCloser closer(descriptor);
    EXPECT_EQ(descriptor, closer.descriptor());
    closer.close();
    EXPECT_FALSE(isOpen(descriptor));
    EXPECT_EQ(SocketCloser::InvalidDescriptor, closer.descriptor());
    SocketCloser stale(descriptor);
    EXPECT_THROW(stale.close(), net::socket::CloseException);
    EXPECT_EQ(SocketCloser::InvalidDescriptor, stale.descriptor());
    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(descriptor, reused);
    closer.close();
    EXPECT_TRUE(isOpen(reused));
    EXPECT_EQ(reused, SocketCloser(reused).release());
    EXPECT_TRUE(isOpen(reused));
    ::close(reused);
}

}  // namespace
