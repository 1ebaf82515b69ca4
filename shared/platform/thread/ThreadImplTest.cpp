#include "platform/thread/ThreadImpl.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include "platform/PlatformTestSupport.h"
#include "platform/event/EventImpl.h"
#include "platform/thread/CurrentThread.h"
#include "platform/thread/OsInfoImpl.h"

namespace {

using platform::event::EventImpl;
using platform::thread::currentThreadId;
using platform::thread::currentThreadName;
using platform::thread::OsInfoImpl;
using platform::thread::ThreadImpl;

class FunctionRunnable : public platform::thread::Runnable {
public:
    explicit FunctionRunnable(std::function<void()> body) : _body(std::move(body)) {}
    void run() override { _body(); }

private:
    std::function<void()> _body;
};

class ThreadImplTest : public testing::Test {
protected:
    OsInfoImpl _osInfo;
};

TEST_F(ThreadImplTest, RunsTheRunnableOnAThreadOfItsOwn) {
    std::uint32_t bodyId = 0;
    std::string bodyName;
    bool currentInside = false;
    ThreadImpl* self = nullptr;
    FunctionRunnable runnable([&] {
        bodyId = currentThreadId();
        bodyName = currentThreadName();
        currentInside = self->isCurrent();
    });
    ThreadImpl thread(&_osInfo, &runnable, "Worker");
    self = &thread;
    EXPECT_EQ(ThreadImpl::CREATED, thread.state());
    thread.start();
    EXPECT_FALSE(thread.isCurrent());
    thread.join();
    EXPECT_EQ(ThreadImpl::DELETED, thread.state());
    EXPECT_TRUE(currentInside);
    EXPECT_EQ("Worker", bodyName);
    EXPECT_STREQ("", currentThreadName());
    EXPECT_NE(0u, bodyId);
    EXPECT_NE(currentThreadId(), bodyId);
    EXPECT_EQ(static_cast<std::uint32_t>(::gettid()), currentThreadId());
}

// A timed join of a running thread gives up and leaves it joinable; joining a thread that is
// not running (never started, already joined) returns at once.
TEST_F(ThreadImplTest, JoinWaitsOnlyForARunningThread) {
    EventImpl release;
    FunctionRunnable runnable([&] { release.wait(); });
    ThreadImpl thread(&_osInfo, &runnable, "Waiter");
    EXPECT_FALSE(thread.join(0));
    thread.start();
    EXPECT_FALSE(thread.join(30));
    EXPECT_EQ(ThreadImpl::STARTED, thread.state());
    release.set();
    EXPECT_TRUE(thread.join(10000));
    EXPECT_FALSE(thread.join(0));
}

TEST_F(ThreadImplTest, TerminateEndsABlockedThread) {
    if (platform::testing::cancellationUnderAddressSanitizer) {
        GTEST_SKIP() << "thread cancellation is not supported by AddressSanitizer";
    }
    FunctionRunnable runnable([] {
        for (;;) ::pause();
    });
    ThreadImpl thread(&_osInfo, &runnable, "Stuck");
    thread.start();
    thread.terminate();
    EXPECT_EQ(ThreadImpl::DELETED, thread.state());
}

}  // namespace
