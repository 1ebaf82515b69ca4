#include "net/socket/SocketStreamImpl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"
#include "testing/MessageOf.h"

namespace {

using namespace net::socket;
using test_support::LoopbackPair;

void send(SocketStream* stream, const std::string& text) {
    stream->write(text.data(), static_cast<std::uint32_t>(text.size()));
}

// Everything until the peer ends its sending side.
std::string drain(SocketStream* stream) {
    std::string text;
    char buffer[256];
    while (const int n = stream->readSome(buffer, sizeof buffer)) text.append(buffer, n);
    return text;
}

std::string messageOf(const std::function<void()>& operation) {
    return norvale::quillmark::testing::messageOf<SocketException>(operation);
}

// The failures that are not system call failures carry the open descriptor twice and code 0.
const std::string OpenStreamDetail =
    "Detailed information\nSocket fd: ([0-9]+)\nsocketCloser fd: \\1\n"
    "System error message: Success\\. Error code: 0\\.";

TEST(SocketStreamImplTest, ReadsEndAtThePeersShutdownAndTheOtherDirectionStillWorks) {
    LoopbackPair pair;
    pair.client->write(nullptr, 0);
    send(pair.client, "hello");
    pair.client->shutdown(SocketStream::Send);
    EXPECT_EQ("hello", drain(pair.accepted.get()));
    char buffer[10];
    EXPECT_EQ(0, pair.accepted->readSome(buffer, 1));
    EXPECT_TRUE(std::regex_match(
        messageOf([&] { pair.accepted->read(buffer, 1); }),
        std::regex("Unexpected end of file reached when read data from socket. " +
                   OpenStreamDetail)));
    send(pair.accepted.get(), "answer");
    pair.accepted->shutdown(SocketStream::Both);
    EXPECT_EQ("answer", drain(pair.client));
}

TEST(SocketStreamImplTest, SizesAboveTheLimitAreRefused) {
    LoopbackPair pair;
    char byte = 0;
    EXPECT_THROW(pair.accepted->readSome(&byte, 2147483648u), PreconditionException);
    EXPECT_THROW(pair.accepted->write(&byte, 2147483648u), PreconditionException);
}

TEST(SocketStreamImplTest, WriteToAPeerThatClosedFailsWithoutSigpipe) {
    // The default action of SIGPIPE ends the process; the send flags alone must prevent it.
    const auto previous = signal(SIGPIPE, SIG_DFL);
    LoopbackPair pair;
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
    signal(SIGPIPE, previous);
}

TEST(SocketStreamImplTest, WaitReadableTellsDataAndEndFromTimeOut) {
    LoopbackPair pair;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pair.accepted->waitReadable(50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    send(pair.client, "x");
    EXPECT_TRUE(pair.accepted->waitReadable(1000));
    char byte;
    EXPECT_EQ(1, pair.accepted->readSome(&byte, 1));
    pair.client->shutdown(SocketStream::Send);
    EXPECT_TRUE(pair.accepted->waitReadable(1000));
    EXPECT_EQ(0, pair.accepted->readSome(&byte, 1));
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
                               "descriptor. Error code: " +
                               std::to_string(EBADF) + ".";
    const std::string shutdown = "Failed to shut down the socket with the shutdown call. Trying to close ";
    char byte = 'x';
    const struct {
        std::function<void()> use;
        std::string message;
    } cases[] = {
        {[&] { stream->readSome(&byte, 1); },
         "Error reading data from the socket. Failed using the 'recv' system call. "},
        {[&] { stream->write(&byte, 1); },
         "Could not write data on the socket. Failed using the send system call. "},
        {[&] { stream->shutdown(SocketStream::Both); }, shutdown + "both ends. "},
        {[&] { stream->waitReadable(0); },
         "Error waiting for data on the socket. Failed using the 'poll' system call. "},
    };
    for (const auto& c : cases) EXPECT_EQ(c.message + detail, messageOf(c.use));

    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(descriptor, reused);
    stream.reset();
    EXPECT_NE(-1, ::fcntl(reused, F_GETFD));
    ::close(reused);
}

}  // namespace
