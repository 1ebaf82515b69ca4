#include "platform/mutex/Semaphore.h"

#include <gtest/gtest.h>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/MutexException.h"
#include "util/Converter.h"

namespace {

using platform::mutex::Semaphore;
using platform::testing::Background;

// The count stays within 0 and 2^31 - 1: a release that would pass the maximum is ignored as a
// whole, a release of nothing adds nothing.
TEST(SemaphoreTest, ReleasesOutsideTheRangeAreIgnored) {
    Semaphore full(2147483646, Semaphore::Unnamed);
    full.release(1);
    full.release(1);  // ignored
    full.wait();
    full.release(1);  // back at the maximum, accepted
    full.release(2);  // ignored
    full.wait();
    full.wait();

    Semaphore semaphore(1, Semaphore::Unnamed);
    semaphore.release(2147483647);
    semaphore.release(0);
    semaphore.release(-3);
    semaphore.wait();
    Background waiter([&] { semaphore.wait(); });
    EXPECT_TRUE(waiter.stillBlocked());
    semaphore.release(1);
    EXPECT_TRUE(waiter.finishesWithin());
}

TEST(SemaphoreTest, ReleaseOfManyWakesAsManyWaiters) {
    Semaphore semaphore(0, Semaphore::Unnamed);
    Background first([&] { semaphore.wait(); });
    Background second([&] { semaphore.wait(); });
    EXPECT_TRUE(first.stillBlocked());
    semaphore.release(2);
    EXPECT_TRUE(first.finishesWithin());
    EXPECT_TRUE(second.finishesWithin());
}

TEST(SemaphoreTest, RefusesTooLargeCountsAndNames) {
    EXPECT_THROW(Semaphore(2147483648u, Semaphore::Unnamed), util::ConverterException);
    EXPECT_THROW(Semaphore(1, "clients"), platform::mutex::MutexException);
}

}  // namespace
