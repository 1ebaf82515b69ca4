#include "platform/event/EventImpl.h"

#include <gtest/gtest.h>

#include "platform/PlatformTestSupport.h"
#include "platform/event/AutoResetEventImpl.h"

namespace {

using platform::event::AutoResetEventImpl;
using platform::event::EventImpl;
using platform::testing::Background;

TEST(EventImplTest, ManualResetReleasesEveryWaiterUntilReset) {
    EventImpl event;
    Background first([&] { event.wait(); });
    Background second([&] { event.wait(); });
    EXPECT_TRUE(first.stillBlocked());
    event.set();
    EXPECT_TRUE(first.finishesWithin());
    EXPECT_TRUE(second.finishesWithin());
    event.wait();  // stays signalled

    event.reset();
    Background third([&] { event.wait(); });
    EXPECT_TRUE(third.stillBlocked());
    event.set();
    EXPECT_TRUE(third.finishesWithin());
}

TEST(EventImplTest, AutoResetLetsOneWaiterThroughPerSet) {
    AutoResetEventImpl token(true);
    token.wait();  // consumes the initial signal
    Background first([&] { token.wait(); });
    EXPECT_TRUE(first.stillBlocked());
    token.set();
    EXPECT_TRUE(first.finishesWithin());
    Background second([&] { token.wait(); });
    EXPECT_TRUE(second.stillBlocked());
    token.set();
    EXPECT_TRUE(second.finishesWithin());
}

}  // namespace
