#include "net/socket/SocketStreamImpl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <thread>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"

namespace {

using namespace net::socket;
using test_support::LoopbackPair;

const std::string CrLfCrLf = "\r\n\r\n";

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

// "Detailed information\nSocket fd: N\nsocketCloser fd: N\n" + system text of code 0: the
// failures that are not system call failures carry no error code.
const std::regex OpenStreamDetail(
    "Detailed information\nSocket fd: ([0-9]+)\nsocketCloser fd: \\1\n"
    "System error message: Success\\. Error code: 0\\.");

TEST(SocketStreamImplTest, ReadSomeEndsWithZeroAfterThePeerShutsDownSending) {
    LoopbackPair pair;
    send(pair.client, "hello");
    pair.client->shutdown(SocketStream::Send);
    EXPECT_EQ("hello", drain(pair.accepted.get()));
    char byte;
    EXPECT_EQ(0, pair.accepted->readSome(&byte, 1));
}

TEST(SocketStreamImplTest, ReadPastTheEndOfStreamThrowsUnexpectedEof) {
    LoopbackPair pair;
    send(pair.client, "abcd");
    pair.client->shutdown(SocketStream::Send);
    char buffer[10];
    try {
        pair.accepted->read(buffer, 10);
        FAIL() << "no exception";
    } catch (const UnexpectedEofException& e) {
        const std::string message = e.what();
        const std::string opening = "Unexpected end of file reached when read data from socket. ";
        ASSERT_EQ(opening, message.substr(0, opening.size()));
        EXPECT_TRUE(std::regex_match(message.substr(opening.size()), OpenStreamDetail)) << message;
    }
    EXPECT_EQ("abcd", std::string(buffer, 4));
}

TEST(SocketStreamImplTest, ReadUntilStopsRightAfterTheMatch) {
    LoopbackPair pair;
    send(pair.client, "GET\r\n\r\nbody");
    char buffer[64];
    EXPECT_EQ(7, pair.accepted->readUntil(buffer, sizeof buffer, CrLfCrLf.c_str()));
    EXPECT_EQ("GET\r\n\r\n", std::string(buffer));
    pair.client->shutdown(SocketStream::Send);
    EXPECT_EQ("body", drain(pair.accepted.get()));
}

// A five-byte buffer holds at most four bytes read plus the terminating zero.
TEST(SocketStreamImplTest, ReadUntilWithFiveByteBufferAcceptsExactlyTheFourByteMatch) {
    LoopbackPair pair;
    send(pair.client, CrLfCrLf);
    char buffer[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(4, pair.accepted->readUntil(buffer, 5, CrLfCrLf.c_str()));
    EXPECT_EQ(CrLfCrLf + '\0', std::string(buffer, 5));
}

TEST(SocketStreamImplTest, ReadUntilWithFiveByteBufferOverflowsAfterFourBytes) {
    LoopbackPair pair;
    send(pair.client, "a\r\n\r\n");
    char buffer[5];
    try {
        pair.accepted->readUntil(buffer, 5, CrLfCrLf.c_str());
        FAIL() << "no exception";
    } catch (const ReadException& e) {
        const std::string message = e.what();
        ASSERT_EQ(0u, message.find("Buffer about to overflow. Detailed information\n")) << message;
        EXPECT_TRUE(std::regex_match(message.substr(26), OpenStreamDetail)) << message;
    }
    EXPECT_EQ(std::string("a\r\n\r\0", 5), std::string(buffer, 5));
    pair.client->shutdown(SocketStream::Send);
    EXPECT_EQ("\n", drain(pair.accepted.get()));
}

TEST(SocketStreamImplTest, ReadUntilReportsAStreamThatEndsWithoutTheMatch) {
    LoopbackPair pair;
    send(pair.client, "ab");
    pair.client->shutdown(SocketStream::Send);
    char buffer[16];
    try {
        pair.accepted->readUntil(buffer, sizeof buffer, CrLfCrLf.c_str());
        FAIL() << "no exception";
    } catch (const ReadException& e) {
        const std::string message = e.what();
        const std::string opening =
            "Error reading from socket. Could not find the match string in the stream.  ";
        ASSERT_EQ(opening, message.substr(0, opening.size())) << message;
        EXPECT_TRUE(std::regex_match(message.substr(opening.size()), OpenStreamDetail)) << message;
    }
}

TEST(SocketStreamImplTest, ReadUntilRefusesBadArgumentsWithoutReading) {
    LoopbackPair pair;
    send(pair.client, "abc");
    char buffer[4];
    const auto expectPrecondition = [&](std::uint32_t size, const char* match) {
        try {
            pair.accepted->readUntil(buffer, size, match);
            ADD_FAILURE() << "no exception for size " << size;
        } catch (const PreconditionException& e) {
            EXPECT_STREQ("Precondition error in 'readUntil'.", e.what());
        }
    };
    expectPrecondition(4, "abcde");        // match longer than the buffer
    expectPrecondition(4, nullptr);        // no match text
    expectPrecondition(1, "");             // no room for a byte and the terminating zero
    expectPrecondition(2147483648u, "a");  // above the largest size
    pair.client->shutdown(SocketStream::Send);
    EXPECT_EQ("abc", drain(pair.accepted.get()));
}

TEST(SocketStreamImplTest, SizesAboveTheLimitAreRefused) {
    LoopbackPair pair;
    char byte = 0;
    try {
        pair.accepted->readSome(&byte, 2147483648u);
        ADD_FAILURE() << "no exception";
    } catch (const PreconditionException& e) {
        EXPECT_STREQ(
            "Cannot read an amount of data with that size. The data size must be between 0 and "
            "2147483647",
            e.what());
    }
    try {
        pair.accepted->write(&byte, 2147483648u);
        ADD_FAILURE() << "no exception";
    } catch (const PreconditionException& e) {
        EXPECT_STREQ(
            "Cannot send an amount of data with that size. The data size must be between 0 and "
            "2147483647",
            e.what());
    }
}

TEST(SocketStreamImplTest, WriteOfZeroBytesSendsNothing) {
    LoopbackPair pair;
    pair.client->write(nullptr, 0);
    pair.client->shutdown(SocketStream::Send);
    EXPECT_EQ("", drain(pair.accepted.get()));
}

TEST(SocketStreamImplTest, ShutdownOfSendingStillReceives) {
    LoopbackPair pair;
    pair.client->shutdown(SocketStream::Send);
    char byte;
    EXPECT_EQ(0, pair.accepted->readSome(&byte, 1));
    send(pair.accepted.get(), "answer");
    pair.accepted->shutdown(SocketStream::Both);
    EXPECT_EQ("answer", drain(pair.client));
}

TEST(SocketStreamImplTest, WriteToAPeerThatClosedFailsWithoutSigpipe) {
    // The default action of SIGPIPE ends the process; the send flags alone must prevent it.
    const auto previous = signal(SIGPIPE, SIG_DFL);
    LoopbackPair pair;
    pair.accepted.reset();
    bool failed = false;
    for (int attempt = 0; attempt < 2000 && !failed; ++attempt) {
        try {
            send(pair.client, "x");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } catch (const WriteException& e) {
            failed = true;
            EXPECT_EQ(0u, std::string(e.what()).find(
                              "Could not write data on the socket. Failed using the send system "
                              "call. Detailed information\nSocket fd: "))
                << e.what();
        }
    }
    EXPECT_TRUE(failed);
    signal(SIGPIPE, previous);
}

TEST(SocketStreamImplTest, NamesAreDottedAddresses) {
    LoopbackPair pair;
    EXPECT_EQ("127.0.0.1", pair.client->getPeerName());
    EXPECT_EQ("127.0.0.1", pair.client->getLocalName());
    EXPECT_EQ("127.0.0.1", pair.accepted->getPeerName());
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

// Built over a descriptor of our own so the test knows its number.
TEST(SocketStreamImplTest, CloseThenDestroyClosesNothingElse) {
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(descriptor, 0);
    auto stream = std::make_unique<SocketStreamImpl>(descriptor, nullptr);
    stream->close();
    stream->close();
    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(descriptor, reused);
    stream.reset();
    EXPECT_NE(-1, ::fcntl(reused, F_GETFD));
    ::close(reused);
}

TEST(SocketStreamImplTest, UseAfterCloseFailsWithTheDetailBlock) {
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(descriptor, 0);
    SocketStreamImpl stream(descriptor, nullptr);
    stream.close();
    const std::string detail = "Detailed information\nSocket fd: " + std::to_string(descriptor) +
                               "\nsocketCloser fd: -1\nSystem error message: Bad file "
                               "descriptor. Error code: " +
                               std::to_string(EBADF) + ".";
    char byte = 'x';
    const auto messageOf = [](auto&& operation) -> std::string {
        try {
            operation();
        } catch (const SocketException& e) {
            return e.what();
        }
        return "no exception";
    };
    EXPECT_EQ("Error reading data from the socket. Failed using the 'recv' system call. " + detail,
              messageOf([&] { stream.readSome(&byte, 1); }));
    EXPECT_EQ("Could not write data on the socket. Failed using the send system call. " + detail,
              messageOf([&] { stream.write(&byte, 1); }));
    EXPECT_EQ(
        "Failed to shut down the socket with the shutdown call. Trying to close the RECEIVE "
        "end. " +
            detail,
        messageOf([&] { stream.shutdown(SocketStream::Receive); }));
    EXPECT_EQ(
        "Failed to shut down the socket with the shutdown call. Trying to close the SEND "
        "end. " +
            detail,
        messageOf([&] { stream.shutdown(SocketStream::Send); }));
    EXPECT_EQ("Failed to shut down the socket with the shutdown call. Trying to close both ends. " +
                  detail,
              messageOf([&] { stream.shutdown(SocketStream::Both); }));
    EXPECT_EQ("Error getting peer name using 'getpeername'. " + detail,
              messageOf([&] { stream.getPeerName(); }));
    EXPECT_EQ("Error getting local name for the socket when using 'getsockname'. " + detail,
              messageOf([&] { stream.getLocalName(); }));
    EXPECT_EQ(
        "Error waiting for data on the socket. Failed using the 'poll' system call. " + detail,
        messageOf([&] { stream.waitReadable(0); }));
}

TEST(SocketStreamImplTest, ShutdownOfAnUnknownEndIsAFailedInternalCheck) {
    const test_support::ScratchDir dir("shutdown_death");
    LoopbackPair pair;
    EXPECT_DEATH(
        {
            dir.enterForDeath();
            pair.client->shutdown(3);
        },
        "");
    EXPECT_NE(std::string::npos,
              dir.assertionReport().find("Message: end >= Receive && end <= Both\n"));
}

}  // namespace
