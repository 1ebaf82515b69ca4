#include "platform/event/EventImpl.h"

#include <gtest/gtest.h>

#include "platform/PlatformTestSupport.h"
#include "platform/event/AutoResetEventImpl.h"

namespace {

using platform::testing::Background;

// A manual-reset event releases every waiter and stays set until reset.
TEST(EventImplTest, ManualResetReleasesEveryWaiterUntilReset) {
    platform::event::EventImpl event;
    Background first([&] { event.wait(); });
    Background second([&] { event.wait(); });
    EXPECT_TRUE(first.stillBlocked());
    event.set();
    EXPECT_TRUE(first.finishesWithin());
    EXPECT_TRUE(second.finishesWithin());
    event.wait();
    event.reset();
    Background third([&] { event.wait(); });
    EXPECT_TRUE(third.stillBlocked());
    event.set();
}

// An auto-reset event lets one waiter through per set, the initial one included.
TEST(EventImplTest, AutoResetLetsOneWaiterThroughPerSet) {
    platform::event::AutoResetEventImpl token(true);
    token.wait();
    for (int round = 0; round < 2; ++round) {
        Background waiter([&] { token.wait(); });
        EXPECT_TRUE(waiter.stillBlocked());
        token.set();
        EXPECT_TRUE(waiter.finishesWithin());
    }
}

}  // namespace
