#include <gtest/gtest.h>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/BoundedBufferLockImpl.h"
#include "platform/mutex/Semaphore.h"
#include "platform/thread/MethodCaller0.h"
#include "platform/thread/MethodCaller1.h"

namespace {

using platform::mutex::BoundedBufferLock;
using platform::mutex::BoundedBufferLockImpl;
using platform::mutex::Semaphore;
using platform::thread::MethodCaller0;
using platform::thread::MethodCaller1;

struct Counter {
    void bump() { ++calls; }
    void add(int amount) { calls += amount; }
    int calls = 0;
};

TEST(MethodCallerTest, CallsOnScopeExitUnlessDisarmed) {
    Counter counter;
    {
        MethodCaller0 guard(&counter, &Counter::bump);
        MethodCaller1 adder(&counter, &Counter::add, 10);
    }
    EXPECT_EQ(11, counter.calls);
    {
        MethodCaller0 guard(&counter, &Counter::bump);
        MethodCaller1 adder(&counter, &Counter::add, 10);
        guard.disarm();
        adder.disarm();
    }
    EXPECT_EQ(11, counter.calls);
    try {
        MethodCaller1 adder(&counter, &Counter::add, 5);
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(16, counter.calls);
}

TEST(MethodCallerTest, GivesASemaphorePermitBackOnAFailedStep) {
    Semaphore permits(1, Semaphore::Unnamed);
    permits.wait();
    try {
        MethodCaller1 permit(&permits, &Semaphore::release, 1);
        throw 1;  // the step after taking the permit failed
    } catch (int) {
    }
    platform::testing::Background next([&] { permits.wait(); });
    EXPECT_TRUE(next.finishesWithin());
}

TEST(MethodCallerTest, EndsATakeThroughTheInterface) {
    BoundedBufferLockImpl lock(1);
    lock.beginPut();
    lock.endPut(true);
    {
        lock.beginTake();
        MethodCaller1<BoundedBufferLock, bool> end(&lock, &BoundedBufferLock::endTake, true);
    }
    platform::testing::Background producer([&] {
        lock.beginPut();
        lock.endPut(true);
    });
    EXPECT_TRUE(producer.finishesWithin());
}

}  // namespace
