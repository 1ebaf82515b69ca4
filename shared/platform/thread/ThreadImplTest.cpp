#include "platform/thread/ThreadImpl.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <stdexcept>
#include <utility>

#include "exceptions/Exception.h"
#include "io/filesystem/TempFolder.h"
#include "platform/PlatformTestSupport.h"
#include "platform/event/EventImpl.h"
#include "platform/thread/CurrentThread.h"
#include "platform/thread/LoggingThreadImpl.h"
#include "platform/thread/OsInfoImpl.h"

namespace {

using platform::thread::currentThreadId;
using platform::thread::LoggingThreadImpl;
using platform::thread::ThreadImpl;

// The body runs on a thread of its own, named and current there. A timed join of a running
// thread gives up and leaves it joinable; joining a thread that is not running (never started,
// already joined) returns at once.
TEST(ThreadImplTest, RunsTheBodyOnANamedThreadAndJoinsOnlyARunningOne) {
    const platform::thread::OsInfoImpl osInfo;
    platform::event::EventImpl release;
    std::uint32_t bodyId = 0;
    ThreadImpl* self = nullptr;
    platform::testing::Call runnable([&] {
        bodyId = currentThreadId();
        EXPECT_STREQ("Worker", platform::thread::currentThreadName());
        EXPECT_TRUE(self->isCurrent());
        release.wait();
    });
    ThreadImpl thread(&osInfo, &runnable, "Worker");
    self = &thread;
    EXPECT_FALSE(thread.join(0));
    thread.start();
    EXPECT_FALSE(thread.isCurrent());
    EXPECT_FALSE(thread.join(30));
    release.set();
    EXPECT_TRUE(thread.join(10000));
    EXPECT_FALSE(thread.join(0));
    EXPECT_NE(0u, bodyId);
    EXPECT_NE(currentThreadId(), bodyId);
    EXPECT_EQ(static_cast<std::uint32_t>(::gettid()), currentThreadId());
}

// Writes the reporting thread's id and the text into "threadlog.txt" in the working directory,
// for the test to read after the process has ended.
struct FileThreadLog : platform::thread::ThreadLog {
    void report(const char* text) override {
        std::ofstream("threadlog.txt") << currentThreadId() << "|" << text;
    }
};

// Whatever a logging thread throws is logged with the thread's name and id, and then ends the
// process through an assertion that carries the same text.
TEST(LoggingThreadImplTest, AnythingThrownIsLoggedThenEndsTheProcess) {
    const io::filesystem::test::TempFolder folder;
    const std::string thread = "Thread name: Worker.\nThread id: ";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { throw exceptions::Exception("The classifier file is corrupt."); },
         "An Exception occurred in one of the running threads.\n" + thread +
             "|.\nThe classifier file is corrupt."},
        {[] { throw std::runtime_error("vector too long"); },
         "A std exception occurred in one of the running threads.\n" + thread +
             "|.\nvector too long"},
        {[] { throw 42; }, "A running thread threw a ... exception.\n" + thread + "|."},
    };
    for (const auto& [body, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_DEATH(
            {
                platform::testing::enterFolder(folder.path(""));
                const platform::thread::OsInfoImpl osInfo;
                FileThreadLog log;
                platform::testing::Call runnable(body);
                LoggingThreadImpl thread(&osInfo, &runnable, "Worker", &log);
                thread.start();
                thread.join();
                std::_Exit(0);
            },
            "");
        const std::string logged = folder.read(folder.path("threadlog.txt"));
        const std::string id = logged.substr(0, logged.find('|'));
        const std::string text = logged.substr(logged.find('|') + 1);
        EXPECT_EQ(std::string(expected).replace(expected.find('|'), 1, id), text);
        EXPECT_NE(std::string::npos,
                  folder.read(folder.path("assertion.txt"))
                      .find("Assertion failed. Message: false\nDescription: " + text + "\nFile: "));
    }
}

// Terminate ends a blocked thread; the unwinding of a cancelled logging thread passes the body's
// handlers, and a report would end the process.
TEST(LoggingThreadImplTest, TerminateEndsABlockedThreadWithoutAReport) {
#if defined(__SANITIZE_ADDRESS__)
    // It does not clear the shadow of the frames that the forced unwinding of a cancelled thread
    // leaves, and then reports that thread's own exit as a stack-buffer-underflow.
    GTEST_SKIP() << "thread cancellation is not supported by AddressSanitizer";
#endif
    const platform::thread::OsInfoImpl osInfo;
    FileThreadLog log;
    platform::testing::Call runnable([] {
        for (;;) ::pause();
    });
    LoggingThreadImpl thread(&osInfo, &runnable, "Stuck", &log);
    thread.start();
    thread.terminate();
    EXPECT_EQ(ThreadImpl::DELETED, thread.state());
    EXPECT_FALSE(std::filesystem::exists("threadlog.txt"));
}

}  // namespace
