#include "load/LatencySummary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace bench::load {
namespace {

LatencySummary summaryOf(const std::vector<double>& values) {
    LatencySummary summary;
    for (double value : values) summary.add(value);
    return summary;
}

// Nearest rank: the value at rank ceil(q/100 * n) of the sorted values, rank 1 the smallest.
TEST(LatencySummaryTest, PercentileIsTheNearestRankValue) {
    std::vector<double> hundred(100);
    std::iota(hundred.begin(), hundred.end(), 1.0);
    std::shuffle(hundred.begin(), hundred.end(), std::mt19937(7));
    const struct {
        std::vector<double> values;
        double q;
        double expected;
    } cases[] = {
        {{5, 1, 3, 2, 4}, 50, 3},  // rank 3 of 5
        {{5, 1, 3, 2, 4}, 20, 1},  // exactly one fifth: rank 1, not 2
        {{5, 1, 3, 2, 4}, 40, 2},
        {{5, 1, 3, 2, 4}, 41, 3},  // just past a rank boundary
        {{5, 1, 3, 2, 4}, 1, 1},   // rank never below 1
        {{5, 1, 3, 2, 4}, 99, 5},
        {{5, 1, 3, 2, 4}, 100, 5},
        {{7}, 50, 7},
        {{2, 2, 9, 2}, 75, 2},  // repeated values count once per occurrence
        {hundred, 50, 50},
        {hundred, 99, 99},
        {hundred, 99.5, 100},
        {{}, 50, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, summaryOf(c.values).percentile(c.q))
            << "q " << c.q << " of " << c.values.size() << " values";
    }
}

TEST(LatencySummaryTest, MergeKeepsEveryValueOfBothThreads) {
    LatencySummary first = summaryOf({10, 30});
    const LatencySummary second = summaryOf({20, 40, 50});
    first.merge(second);
    EXPECT_EQ(5u, first.count());
    EXPECT_EQ(30, first.percentile(50));
    EXPECT_EQ(50, first.max());
    EXPECT_EQ(3u, second.count());
    EXPECT_EQ(0, LatencySummary().max());
}

}  // namespace
}  // namespace bench::load
