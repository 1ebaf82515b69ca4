#include "util/ThreadSafeMultiMap.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/PlatformTestSupport.h"
#include "platform/mutex/AutoLock.h"

namespace {

using platform::mutex::AutoLock;
using platform::testing::Background;
using util::ThreadSafeMultiMap;

TEST(ThreadSafeMultiMapTest, KeepsEqualKeysInInsertionOrderAndOrdersByTheComparison) {
    ThreadSafeMultiMap<int, std::string, std::greater<int>> map;
    AutoLock<decltype(map)> lock(&map);
    map.insert({1, "a"});
    map.insert({3, "b"});
    const auto second = map.insert({1, "c"});
    std::string order;
    for (const auto& [key, value] : map) order += std::to_string(key) + value;
    EXPECT_EQ("3b1a1c", order);
    // Positions stay valid while other entries come and go: the thread server relies on it.
    map.erase(map.begin());
    map.insert({2, "d"});
    EXPECT_EQ("c", second->second);
    EXPECT_EQ(2u, map.count(1));
}

TEST(ThreadSafeMultiMapTest, HolderExcludesOtherThreadsAndMayLockAgain) {
    ThreadSafeMultiMap<int, int> map;
    map.lock();
    map.lock();  // recursive for its holder
    Background other([&] {
        AutoLock<decltype(map)> lock(&map);
        map.insert({2, 2});
    });
    map.insert({1, 1});
    map.unlock();
    EXPECT_TRUE(other.stillBlocked());
    EXPECT_EQ(1u, map.size());
    map.unlock();
    ASSERT_TRUE(other.finishesWithin());
    AutoLock<decltype(map)> lock(&map);
    EXPECT_EQ(2u, map.size());
}

TEST(ThreadSafeMultiMapTest, ConcurrentWritersUnderTheLockLoseNothing) {
    ThreadSafeMultiMap<int, int> map;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&map, t] {
            for (int i = 0; i < 500; ++i) {
                AutoLock<ThreadSafeMultiMap<int, int>> lock(&map);
                map.insert({i, t});
            }
        });
    }
    for (auto& writer : writers) writer.join();
    AutoLock<decltype(map)> lock(&map);
    EXPECT_EQ(2000u, map.size());
    EXPECT_EQ(4u, map.count(499));
}

}  // namespace
