#include "net/socket/SocketStreamImpl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketInitializerImpl.h"
#include "net/socket/SocketTestSupport.h"
#include "testing/MessageOf.h"

namespace {

using namespace net::socket;
using test_support::drain;
using test_support::LoopbackPair;
using norvale::quillmark::testing::messageOf;

void send(SocketStream* stream, const std::string& text) {
    stream->write(text.data(), static_cast<std::uint32_t>(text.size()));
}

// Reads end at the peer's shutdown while the other direction still works; a write to a peer that
// closed fails without SIGPIPE, whose default action would end the process (the send flags alone
// must prevent it; the socket initializer ignores the signal besides).
TEST(SocketStreamImplTest, ShutdownAndClosedPeers) {
    LoopbackPair pair;
    pair.client->write(nullptr, 0);
    send(pair.client, "hello");
    pair.client->shutdown(SocketStream::Send);
    EXPECT_EQ("hello", drain(pair.accepted.get()));
    send(pair.accepted.get(), "answer");
    pair.accepted->shutdown(SocketStream::Both);
    EXPECT_EQ("answer", drain(pair.client));

    const auto previous = signal(SIGPIPE, SIG_DFL);
    pair.accepted.reset();
    std::string failure;
    for (int attempt = 0; attempt < 2000 && failure.empty(); ++attempt) {
        try {
            send(pair.client, "x");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } catch (const WriteException& e) {
            failure = e.what();
        }
    }
    EXPECT_EQ(0u, failure.find("Could not write data on the socket. Failed using the send system "
                               "call. Detailed information\nSocket fd: "))
        << failure;
    { const SocketInitializerImpl initializer; }
    EXPECT_EQ(SIG_IGN, signal(SIGPIPE, previous));
}

// Built over a descriptor of our own so the test knows its number: closing twice and then
// destroying closes nothing else, and every use after close names the call and the descriptor.
TEST(SocketStreamImplTest, UseAfterCloseFailsAndClosesNothingElse) {
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(descriptor, 0);
    auto stream = std::make_unique<SocketStreamImpl>(descriptor, nullptr);
    stream->close();
    stream->close();
    const std::string detail = "Detailed information\nSocket fd: " + std::to_string(descriptor) +
                               "\nsocketCloser fd: -1\nSystem error message: Bad file "
                               "descriptor. Error code: " + std::to_string(EBADF) + ".";
    char byte = 'x';
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { stream->readSome(&byte, 1); },
         "Error reading data from the socket. Failed using the 'recv' system call. "},
        {[&] { stream->write(&byte, 1); },
         "Could not write data on the socket. Failed using the send system call. "},
        {[&] { stream->shutdown(SocketStream::Both); },
         "Failed to shut down the socket with the shutdown call. Trying to close both ends. "},
    };
    for (const auto& [use, message] : cases) EXPECT_EQ(message + detail, messageOf<SocketException>(use));

    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(descriptor, reused);
    stream.reset();
    EXPECT_NE(-1, ::fcntl(reused, F_GETFD));
    ::close(reused);
}

}  // namespace
