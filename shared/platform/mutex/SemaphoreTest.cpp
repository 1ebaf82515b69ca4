#include "platform/mutex/Semaphore.h"

#include <gtest/gtest.h>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/MutexException.h"
#include "util/Converter.h"

namespace {

using platform::mutex::Semaphore;
using platform::testing::Background;

TEST(SemaphoreTest, ReleaseBeyondTheMaximumIsIgnoredAsAWhole) {
    Semaphore semaphore(1, Semaphore::Unnamed);
    semaphore.release(2147483647);  // 1 + 2147483647 would pass the maximum
    semaphore.wait();
    Background second([&] { semaphore.wait(); });
    EXPECT_TRUE(second.stillBlocked());
    semaphore.release(1);
    EXPECT_TRUE(second.finishesWithin());
}

TEST(SemaphoreTest, CountReachesExactlyTheMaximum) {
    Semaphore semaphore(2147483646, Semaphore::Unnamed);
    semaphore.release(1);
    semaphore.release(1);  // ignored
    semaphore.wait();
    semaphore.release(1);  // back at the maximum, accepted
    semaphore.release(2);  // ignored
    semaphore.wait();
    semaphore.wait();
}

TEST(SemaphoreTest, ReleasesOfNothingAddNothing) {
    Semaphore semaphore(0, Semaphore::Unnamed);
    semaphore.release(0);
    semaphore.release(-3);
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

TEST(SemaphoreTest, InitialCountMustFitSigned32Bits) {
    EXPECT_THROW(Semaphore(2147483648u, Semaphore::Unnamed), util::ConverterException);
}

TEST(SemaphoreTest, NamedSemaphoresAreRefused) {
    try {
        Semaphore semaphore(1, "clients");
        FAIL() << "no exception";
    } catch (const platform::mutex::MutexException& e) {
        EXPECT_STREQ(
            "Error creating the semaphore 'clients'. Named semaphores are not supported; use "
            "\"Non shared semaphore\".",
            e.what());
    }
}

}  // namespace
