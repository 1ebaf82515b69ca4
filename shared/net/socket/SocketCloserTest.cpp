#include "net/socket/SocketCloser.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"
#include "platform/PlatformTestSupport.h"

namespace {

using net::socket::CloseException;
using net::socket::SocketCloser;

bool isOpen(int descriptor) {
    return ::fcntl(descriptor, F_GETFD) != -1;
}

// A descriptor number that is certainly not open in this process.
int closedDescriptor() {
    const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(descriptor);
    return descriptor;
}

TEST(SocketCloserTest, ClosesOnceAndForgetsTheDescriptor) {
    const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    SocketCloser closer(descriptor);
    EXPECT_EQ(descriptor, closer.descriptor());
    closer.close();
    EXPECT_FALSE(isOpen(descriptor));
    EXPECT_EQ(SocketCloser::InvalidDescriptor, closer.descriptor());
    // The number comes back for the next open; a second close must leave that file alone.
    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(descriptor, reused);
    closer.close();
    EXPECT_TRUE(isOpen(reused));
    // Released, it stays open.
    EXPECT_EQ(reused, SocketCloser(reused).release());
    EXPECT_TRUE(isOpen(reused));
    ::close(reused);
}

TEST(SocketCloserTest, FailedCloseThrowsWithTheDescriptorAndSystemText) {
    const int descriptor = closedDescriptor();
    SocketCloser closer(descriptor);
    try {
        closer.close();
        FAIL() << "no exception";
    } catch (const CloseException& e) {
        EXPECT_EQ(
            "Error closing the socket in the SocketCloser. The closesocket system call failed. "
            "Socket id: " +
                std::to_string(descriptor) +
                ". System error message: Bad file descriptor. Error code: " +
                std::to_string(EBADF) + ".",
            e.what());
    }
    EXPECT_EQ(SocketCloser::InvalidDescriptor, closer.descriptor());
}

TEST(SocketCloserTest, FailedCloseInTheDestructorIsAFailedInternalCheck) {
    const platform::testing::TempFolder dir;
    const int descriptor = closedDescriptor();
    EXPECT_DEATH(
        {
            platform::testing::enterFolder(dir.path());
            SocketCloser closer(descriptor);
        },
        "");
}

}  // namespace
