#include "classifier/KeywordQueue.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace norvale::classifier {
namespace {

// The heap's storage order is the order keywords are answered in, so it is pinned exactly.
// The count tells apart keywords of equal probability.
TEST(KeywordQueueTest, HeapKeepsItsStorageOrderThroughPushesAndReplacements) {
    using Kept = std::vector<std::pair<double, std::uint32_t>>;  // probability, count
    const struct {
        const char* what;
        std::size_t capacity;
        Kept offers;
        std::size_t taken;  // the first offers; the others are refused
        Kept expected;
    } cases[] = {
        {"pushes move up while the parent is strictly greater",
         5,
         {{0.5, 1}, {0.3, 1}, {0.4, 1}, {0.1, 1}, {0.2, 1}},
         5,
         {{0.1, 1}, {0.2, 1}, {0.4, 1}, {0.5, 1}, {0.3, 1}}},
        // The hole walks to 1, takes its only child 0.5 from slot 3, and the former last
        // element 0.3 moves up from there.
        {"even remainder moves the only child up",
         5,
         {{0.5, 1}, {0.3, 1}, {0.4, 1}, {0.1, 1}, {0.2, 1}, {0.35, 1}},
         6,
         {{0.2, 1}, {0.3, 1}, {0.4, 1}, {0.5, 1}, {0.35, 1}}},
        // A tie with the weakest kept keyword keeps the incumbent; a weaker one is dropped too.
        {"equal children give the right child",
         4,
         {{0.1, 1}, {0.3, 10}, {0.3, 20}, {0.6, 1}, {0.7, 1}, {0.3, 99}, {0.2, 1}},
         5,
         {{0.3, 20}, {0.3, 10}, {0.6, 1}, {0.7, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KeywordQueue queue(c.capacity, 0.0);
        for (std::size_t i = 0; i < c.offers.size(); ++i) {
            const auto [probability, count] = c.offers[i];
            EXPECT_EQ(i < c.taken, queue.offer(Keyword("word", 4, probability, count, "c"))) << i;
        }
        Kept kept;
        for (const Keyword& k : queue) kept.emplace_back(k.probability(), k.count());
        EXPECT_EQ(c.expected, kept);
    }
}

}  // namespace
}  // namespace norvale::classifier
