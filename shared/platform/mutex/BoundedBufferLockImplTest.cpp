#include "platform/mutex/BoundedBufferLockImpl.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/PlatformTestSupport.h"

namespace {

using platform::mutex::BoundedBufferLockImpl;
using platform::testing::Background;

TEST(BoundedBufferLockImplTest, PutWaitsForAFreeSlot) {
    BoundedBufferLockImpl lock(1);
    lock.beginPut();
    lock.endPut(true);
    Background producer([&] {
        lock.beginPut();
        lock.endPut(true);
    });
    EXPECT_TRUE(producer.stillBlocked());
    lock.beginTake();
    lock.endTake(true);
    EXPECT_TRUE(producer.finishesWithin());
}

TEST(BoundedBufferLockImplTest, TakeWaitsForAFilledSlot) {
    BoundedBufferLockImpl lock(2);
    Background consumer([&] {
        lock.beginTake();
        lock.endTake(true);
    });
    EXPECT_TRUE(consumer.stillBlocked());
    lock.beginPut();
    lock.endPut(true);
    EXPECT_TRUE(consumer.finishesWithin());
}

// An undone put gives its slot back and fills nothing; an undone take gives the item back.
TEST(BoundedBufferLockImplTest, UndoneStepsGiveTheirClaimBack) {
    BoundedBufferLockImpl lock(1);
    lock.beginPut();
    lock.endPut(false);
    {
        Background consumer([&] {
            lock.beginTake();
            lock.endTake(true);
        });
        EXPECT_TRUE(consumer.stillBlocked());
        lock.beginPut();
        lock.endPut(true);
        EXPECT_TRUE(consumer.finishesWithin());
    }
    lock.beginPut();
    lock.endPut(true);
    lock.beginTake();
    lock.endTake(false);
    Background consumer([&] {
        lock.beginTake();
        lock.endTake(true);
    });
    EXPECT_TRUE(consumer.finishesWithin());
}

TEST(BoundedBufferLockImplTest, GuardsAQueueBetweenProducersAndAConsumer) {
    constexpr int PerProducer = 500;
    BoundedBufferLockImpl lock(3);
    std::vector<int> queue;
    queue.reserve(3);
    std::vector<std::thread> producers;
    bool overfull = false;
    for (int p = 0; p < 2; ++p) {
        producers.emplace_back([&] {
            for (int i = 0; i < PerProducer; ++i) {
                lock.beginPut();
                if (queue.size() >= 3) overfull = true;
                queue.push_back(i);
                lock.endPut(true);
            }
        });
    }
    long sum = 0;
    for (int taken = 0; taken < 2 * PerProducer; ++taken) {
        lock.beginTake();
        sum += queue.back();
        queue.pop_back();
        lock.endTake(true);
    }
    for (auto& producer : producers) producer.join();
    EXPECT_FALSE(overfull);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(2L * PerProducer * (PerProducer - 1) / 2, sum);
}

}  // namespace
