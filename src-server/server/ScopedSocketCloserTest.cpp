#include "server/ScopedSocketCloser.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "net/socket/SocketExceptions.h"
#include "server/ConnectionTestSupport.h"

namespace norvale::quillmark {
namespace {

using testing::LogLine;
using testing::RecordingLog;

// Counts closes; can be told to fail them.
class ClosingStream : public net::socket::SocketStream {
public:
    void close() override {
        ++closes;
        if (fail) throw net::socket::CloseException("The close failed.");
    }
    void shutdown(int) override {}
    void read(char*, std::uint32_t) override {}
    int readSome(char*, std::uint32_t) override { return 0; }
    int readUntil(char*, std::uint32_t, const char*) override { return 0; }
    void write(const char*, std::uint32_t) override {}
    std::string getPeerName() override { return {}; }
    std::string getLocalName() override { return {}; }
    bool waitReadable(int) override { return true; }

    int closes = 0;
    bool fail = false;
};

TEST(ScopedSocketCloserTest, ClosesOnEveryWayOutAndLogsAFailedCloseInsteadOfThrowing) {
    RecordingLog log;
    ClosingStream stream;
    EXPECT_THROW(
        {
            ScopedSocketCloser closer(&stream, &log);
            throw std::runtime_error("leaving early");
        },
        std::runtime_error);
    EXPECT_EQ(1, stream.closes);
    EXPECT_TRUE(log.lines().empty());

    stream.fail = true;
    std::mutex closeLock;
    { ScopedSocketCloser closer(&stream, &log, &closeLock); }
    EXPECT_EQ(2, stream.closes);
    const LogLine failure{"Error",
                          "Error closing socket stream in ScopedSocketCloser. The close failed."};
    EXPECT_EQ(std::vector<LogLine>{failure}, log.lines());
    // The lock was given back.
    EXPECT_TRUE(closeLock.try_lock());
    closeLock.unlock();
}

}  // namespace
}  // namespace norvale::quillmark
