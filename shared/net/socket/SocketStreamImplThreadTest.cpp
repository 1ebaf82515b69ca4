#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketStreamImpl.h"
#include "net/socket/SocketTestSupport.h"

namespace {

using namespace net::socket;
using test_support::LoopbackPair;
using namespace std::chrono_literals;

std::string drain(SocketStream* stream) {
    std::string text;
    char buffer[4096];
    while (const int n = stream->readSome(buffer, sizeof buffer)) text.append(buffer, n);
    return text;
}

// The peer's socket buffers are far smaller than the text, so the send blocks and goes out in
// pieces while the reader runs.
TEST(SocketStreamImplThreadTest, LargeWriteArrivesWhole) {
    LoopbackPair pair;
    std::string text(8 << 20, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + i / 251);
    auto received = std::async(std::launch::async, [&] { return drain(pair.accepted.get()); });
    pair.client->write(text.data(), static_cast<std::uint32_t>(text.size()));
    pair.client->shutdown(SocketStream::Send);
    EXPECT_TRUE(received.get() == text);
}

// How a server that stops ends a connection blocked in a read.
TEST(SocketStreamImplThreadTest, ShutdownOfReceivingFromAnotherThreadEndsABlockedRead) {
    LoopbackPair pair;
    auto reader = std::async(std::launch::async, [&] {
        char byte;
        return pair.accepted->readSome(&byte, 1);
    });
    EXPECT_EQ(std::future_status::timeout, reader.wait_for(100ms));
    pair.accepted->shutdown(SocketStream::Receive);
    ASSERT_EQ(std::future_status::ready, reader.wait_for(10s));
    EXPECT_EQ(0, reader.get());
}

}  // namespace
