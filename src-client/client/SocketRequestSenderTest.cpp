#include "client/SocketRequestSender.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "net/socket/SocketExceptions.h"
#include "net/socket/SocketTestSupport.h"

namespace norvale::quillmark::client {
namespace {

using net::socket::test_support::Listener;
using net::socket::test_support::Sockets;

// With a limit of 300 ms: a server that stays quiet longer, or never reads a large request, is
// given up; one whose answer trickles in with shorter pauses is read to the end. A pause ends
// early once the client is done.
TEST(SocketRequestSenderTest, ASilentServerIsGivenUpAndASlowOneIsReadToTheEnd) {
    const struct {
        std::size_t requestBytes;
        bool readsRequest;
        int pauses;  // each followed by one byte of the answer
        int pauseMilliseconds;
        bool answered;
    } cases[] = {
        {10, true, 1, 5000, false},
        {16 << 20, false, 1, 5000, false},
        {10, true, 6, 100, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.requestBytes << " B, " << c.pauses << " pauses");
        Sockets sockets;
        const Listener listener;
        std::promise<void> clientDone;
        std::thread server([&, done = clientDone.get_future()] {
            const int fd = listener.accept();
            char buffer[4096];
            while (c.readsRequest && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
            }
            for (int i = 0; i < c.pauses; ++i) {
                done.wait_for(std::chrono::milliseconds(c.pauseMilliseconds));
                ::send(fd, "x", 1, MSG_NOSIGNAL);
            }
            ::close(fd);
        });
        SocketRequestSender sender(&sockets.clients, "127.0.0.1", listener.port(), 300);
        const std::string request(c.requestBytes, 'r');
        if (c.answered) {
            EXPECT_EQ(sender.send(request), std::string(c.pauses, 'x'));
        } else {
            EXPECT_THROW(sender.send(request), net::socket::TimeoutException);
        }
        clientDone.set_value();
        server.join();
    }
}

}  // namespace
}  // namespace norvale::quillmark::client
