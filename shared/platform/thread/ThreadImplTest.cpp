#include "platform/thread/ThreadImpl.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include "platform/PlatformTestSupport.h"
#include "platform/event/EventImpl.h"
#include "platform/thread/CurrentThread.h"
#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"

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

TEST_F(ThreadImplTest, JoinWithZeroTimeoutOnARunningThreadReturnsFalseAndStaysJoinable) {
    EventImpl release;
    FunctionRunnable runnable([&] { release.wait(); });
    ThreadImpl thread(&_osInfo, &runnable, "Waiter");
    thread.start();
    EXPECT_FALSE(thread.join(0));
    EXPECT_FALSE(thread.join(30));
    EXPECT_EQ(ThreadImpl::STARTED, thread.state());
    release.set();
    EXPECT_TRUE(thread.join(10000));
    EXPECT_EQ(ThreadImpl::DELETED, thread.state());
    EXPECT_FALSE(thread.join(0));  // a joined thread is not joined again
    thread.join();
}

TEST_F(ThreadImplTest, JoiningAThreadThatNeverStartedDoesNothing) {
    FunctionRunnable runnable([] {});
    ThreadImpl thread(&_osInfo, &runnable, "");
    EXPECT_FALSE(thread.join(0));
    thread.join();
    EXPECT_EQ(ThreadImpl::CREATED, thread.state());
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
    EXPECT_FALSE(thread.isCurrent());
}

TEST_F(ThreadImplTest, FactoryMakesUnnamedThreadsOfTheRunnable) {
    platform::thread::ThreadFactoryImpl factory(&_osInfo);
    std::atomic<int> runs{0};
    FunctionRunnable runnable([&] { ++runs; });
    auto thread = factory.create(&runnable);
    EXPECT_EQ("", thread->name());
    thread->setName("CreateClientsThread");
    EXPECT_EQ("CreateClientsThread", thread->name());
    thread->start();
    thread->join();
    EXPECT_EQ(1, runs.load());
}

TEST_F(ThreadImplTest, OsInfoNamesTheRunningKernel) {
    EXPECT_EQ(0u, _osInfo.systemVersion().find("Linux "));
    EXPECT_GT(_osInfo.systemVersion().size(), std::string("Linux ").size());
}

class ThreadStateDeathTest : public ThreadImplTest {
protected:
    std::string report() const {
        return platform::testing::readFile(_folder.path() / "assertion.txt");
    }
    platform::testing::TempFolder _folder;
};

TEST_F(ThreadStateDeathTest, StartingTwiceIsAnAssertion) {
    EXPECT_DEATH(
        {
            platform::testing::enterFolder(_folder.path());
            FunctionRunnable runnable([] {});
            ThreadImpl thread(&_osInfo, &runnable, "Twice");
            thread.start();
            thread.join();
            thread.start();
        },
        "");
    EXPECT_NE(std::string::npos, report().find("Assertion failed. Message: _state == CREATED\n"))
        << report();
}

TEST_F(ThreadStateDeathTest, DestroyingARunningThreadIsAnAssertion) {
    EXPECT_DEATH(
        {
            platform::testing::enterFolder(_folder.path());
            EventImpl never;
            FunctionRunnable runnable([&] { never.wait(); });
            ThreadImpl thread(&_osInfo, &runnable, "Running");
            thread.start();
        },
        "");
    EXPECT_NE(std::string::npos,
              report().find("Assertion failed. Message: _state == CREATED || _state == DELETED\n"))
        << report();
}

TEST_F(ThreadStateDeathTest, TerminatingAThreadThatIsNotRunningIsAnAssertion) {
    EXPECT_DEATH(
        {
            platform::testing::enterFolder(_folder.path());
            FunctionRunnable runnable([] {});
            ThreadImpl thread(&_osInfo, &runnable, "Idle");
            thread.terminate();
        },
        "");
    EXPECT_NE(std::string::npos, report().find("Assertion failed. Message: _state == STARTED\n"))
        << report();
}

}  // namespace
