#include "net/socket/SocketStreamImpl.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <string>
#include <thread>

#include "net/socket/SocketCloser.h"
#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketInitializerImpl.h"
#include "net/socket/SocketTestSupport.h"
#include "platform/errorresources/SystemErrorText.h"
#include "testing/MessageOf.h"

namespace {

using namespace net::socket;
using norvale::quillmark::testing::messageOf;
using platform::errorresources::systemErrorText;
using test_support::LoopbackPair;

// The peer's socket buffers are far smaller than the text, so its send blocks and goes out in
// pieces while the reader runs; reads end at the peer's shutdown (an answer's way back is read in
// the client's tests). A write to a peer that closed fails without SIGPIPE, whose default action
// would end the process (the send flags alone must prevent it; the socket initializer ignores the
// signal besides).
TEST(SocketStreamImplTest, LargeWritesArriveWholeUntilThePeerCloses) {
    LoopbackPair pair;
    std::string text(8 << 20, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + i / 251);
    auto received = std::async(std::launch::async, [&] {
        std::string bytes;
        char buffer[4096];
        while (const int n = pair.accepted->readSome(buffer, sizeof buffer))
            bytes.append(buffer, n);
        return bytes;
    });
    pair.client->write(nullptr, 0);
    pair.client->write(text.data(), static_cast<std::uint32_t>(text.size()));
    pair.client->shutdown(SocketStream::Send);
    EXPECT_TRUE(received.get() == text);

    const auto previous = signal(SIGPIPE, SIG_DFL);
    pair.accepted.reset();
    const std::string failure = messageOf<WriteException>([&] {
        for (int attempt = 0; attempt < 2000; ++attempt) {
            pair.client->write("x", 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(0u, failure.find("Could not write data on the socket. Failed using the send system "
                               "call. Detailed information\nSocket fd: "))
        << failure;
    { const SocketInitializerImpl initializer; }
    EXPECT_EQ(SIG_IGN, signal(SIGPIPE, previous));
}

// A failed connect leaves the socket unconnected, so it may try again (the client shows the
// system's reason of a refused connect, CommandRunnerTest). A failed lookup's own code is negative;
// its description comes from the socket error table, which fills the system's gaps; a code nobody
// knows still gets a sentence. Constructing the table is itself a check: a code entered twice
// (EAGAIN and EWOULDBLOCK are one value on Linux) ends the process.
TEST(ClientSocketImplTest, FailedConnectsMayBeRetriedAndEveryCodeHasAText) {
    LoopbackPair pair;
    const std::uint16_t port = test_support::Listener().port();  // closed again: unused
    auto client = pair.clients.create();
    EXPECT_THROW(client->connect("127.0.0.1", port), ConnectException);
    EXPECT_NE(nullptr, client->connect("127.0.0.1", pair.listener.port()));
    const test_support::Listener six(AF_INET6);
    EXPECT_NE(nullptr, pair.clients.create()->connect("::1", six.port()));
    const std::string message = messageOf<ConnectException>(
        [&] { pair.clients.create()->connect("no-such-host.invalid", 80); });
    EXPECT_EQ(0u, message.find("Error converting hostname no-such-host.invalid to an IP "
                               "address.\n"))
        << message;
    EXPECT_EQ(std::string::npos, message.find("Error message not found.")) << message;
    const std::string unknown = "System error message: Error message not found. Error code: 10049.";
    EXPECT_EQ(0u, systemErrorText(10049, &pair.errors).find(unknown));
    EXPECT_EQ(0u, systemErrorText(10049).find(unknown));
}

// The number of a closed descriptor comes back for the next open: a second close must leave that
// file alone, as must a failed close, which forgets the descriptor as well.
TEST(SocketCloserTest, ClosesOnceAndForgetsTheDescriptor) {
    const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    SocketCloser closer(descriptor);
    closer.close();
    SocketCloser stale(descriptor);
    EXPECT_THROW(stale.close(), net::socket::CloseException);
    EXPECT_EQ(SocketCloser::InvalidDescriptor, stale.descriptor());
    ASSERT_EQ(descriptor, ::open("/dev/null", O_RDONLY | O_CLOEXEC));
    closer.close();
    EXPECT_EQ(descriptor, SocketCloser(descriptor).release());
    EXPECT_NE(-1, ::fcntl(descriptor, F_GETFD));  // still open
    ::close(descriptor);
}

}  // namespace
