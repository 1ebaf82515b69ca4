#include "classifier/KeywordQueue.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace norvale::classifier {
namespace {

using Kept = std::vector<std::pair<double, std::uint32_t>>;  // probability, count

Kept storage(const KeywordQueue& queue) {
    Kept result;
    for (const Keyword& kept : queue) result.emplace_back(kept.probability(), kept.count());
    return result;
}

// The heap's storage order is the order keywords are answered in, so it is pinned exactly.
// The count tells apart keywords of equal probability.
TEST(KeywordQueueTest, HeapKeepsItsStorageOrderThroughPushesAndReplacements) {
    struct Case {
        const char* what;
        std::size_t capacity;
        Kept offers;
        std::vector<bool> taken;
        Kept expected;
    };
    const std::vector<Case> cases = {
        {"pushes move up while the parent is strictly greater", 5,
         {{0.5, 1}, {0.3, 1}, {0.4, 1}, {0.1, 1}, {0.2, 1}},
         {true, true, true, true, true},
         {{0.1, 1}, {0.2, 1}, {0.4, 1}, {0.5, 1}, {0.3, 1}}},
        // The hole walks to 1, takes its only child 0.5 from slot 3, and the former last
        // element 0.3 moves up from there.
        {"even remainder moves the only child up", 5,
         {{0.5, 1}, {0.3, 1}, {0.4, 1}, {0.1, 1}, {0.2, 1}, {0.35, 1}},
         {true, true, true, true, true, true},
         {{0.2, 1}, {0.3, 1}, {0.4, 1}, {0.5, 1}, {0.35, 1}}},
        // A tie with the weakest kept keyword keeps the incumbent; a weaker one is dropped too.
        {"equal children give the right child", 4,
         {{0.1, 1}, {0.3, 10}, {0.3, 20}, {0.6, 1}, {0.7, 1}, {0.3, 99}, {0.2, 1}},
         {true, true, true, true, true, false, false},
         {{0.3, 20}, {0.3, 10}, {0.6, 1}, {0.7, 1}}},
        {"no capacity", 0, {{1.0, 1}}, {false}, {}},
    };
    const std::string token = "word";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KeywordQueue queue(c.capacity, 0.0);
        for (std::size_t i = 0; i < c.offers.size(); ++i) {
            const auto [probability, count] = c.offers[i];
            EXPECT_EQ(c.taken[i], queue.offer(Keyword(token.data(), 4, probability, count, "c")))
                << i;
        }
        EXPECT_EQ(c.expected, storage(queue));
    }
}

}  // namespace
}  // namespace norvale::classifier
