#include <gtest/gtest.h>

#include <future>
#include <string>

#include "net/socket/SocketStreamImpl.h"
#include "net/socket/SocketTestSupport.h"

namespace {

using namespace net::socket;

// The peer's socket buffers are far smaller than the text, so the send blocks and goes out in
// pieces while the reader runs.
TEST(SocketStreamImplThreadTest, LargeWriteArrivesWhole) {
    test_support::LoopbackPair pair;
    std::string text(8 << 20, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + i / 251);
    auto received =
        std::async(std::launch::async, [&] { return test_support::drain(pair.accepted.get()); });
    pair.client->write(text.data(), static_cast<std::uint32_t>(text.size()));
    pair.client->shutdown(SocketStream::Send);
    EXPECT_TRUE(received.get() == text);
}

}  // namespace
