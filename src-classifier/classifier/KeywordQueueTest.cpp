#include "classifier/KeywordQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "classifier/CheckReportFixture.h"
#include "classifier/Classification.h"

namespace norvale::classifier {
namespace {

const char* const Token = "word";
const char* const ClassName = "class";

// The count tells apart keywords of equal probability.
Keyword keyword(double probability, std::uint32_t count = 1) {
    return Keyword(Token, 4, probability, count, ClassName);
}

std::vector<std::pair<double, std::uint32_t>> storage(const KeywordQueue& queue) {
    std::vector<std::pair<double, std::uint32_t>> result;
    for (const Keyword& kept : queue) result.emplace_back(kept.probability(), kept.count());
    return result;
}

TEST(KeywordQueueTest, PushesMoveUpWhileTheParentIsStrictlyGreater) {
    KeywordQueue queue(5, 0.0);
    for (const double probability : {0.5, 0.3, 0.4, 0.1, 0.2}) {
        EXPECT_TRUE(queue.offer(keyword(probability)));
    }
    const std::vector<std::pair<double, std::uint32_t>> expected = {
        {0.1, 1}, {0.2, 1}, {0.4, 1}, {0.5, 1}, {0.3, 1}};
    EXPECT_EQ(expected, storage(queue));
    EXPECT_EQ(0.1, queue.top().probability());
}

TEST(KeywordQueueTest, ReplacingWithAnEvenRemainderMovesTheOnlyChildUp) {
    KeywordQueue queue(5, 0.0);
    for (const double probability : {0.5, 0.3, 0.4, 0.1, 0.2}) queue.offer(keyword(probability));
    // Pop leaves 4 elements: the hole walks to 1, then takes its only child 0.5 from slot 3,
    // and the former last element 0.3 moves up from there.
    EXPECT_TRUE(queue.offer(keyword(0.35)));
    const std::vector<std::pair<double, std::uint32_t>> expected = {
        {0.2, 1}, {0.3, 1}, {0.4, 1}, {0.5, 1}, {0.35, 1}};
    EXPECT_EQ(expected, storage(queue));
}

TEST(KeywordQueueTest, ReplacingWithEqualChildrenTakesTheRightChild) {
    KeywordQueue queue(4, 0.0);
    queue.offer(keyword(0.1));
    queue.offer(keyword(0.3, 10));
    queue.offer(keyword(0.3, 20));
    queue.offer(keyword(0.6));
    EXPECT_TRUE(queue.offer(keyword(0.7)));
    const std::vector<std::pair<double, std::uint32_t>> expected = {
        {0.3, 20}, {0.3, 10}, {0.6, 1}, {0.7, 1}};
    EXPECT_EQ(expected, storage(queue));

    // A tie with the weakest kept keyword keeps the incumbent; a weaker one is dropped too.
    EXPECT_FALSE(queue.offer(keyword(0.3, 99)));
    EXPECT_FALSE(queue.offer(keyword(0.2)));
    EXPECT_EQ(expected, storage(queue));
}

TEST(KeywordQueueTest, KeepsExactlyTheStrongestCandidates) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    std::vector<double> offered;
    KeywordQueue queue(30, 0.45);
    for (int i = 0; i < 500; ++i) {
        offered.push_back(share(random));
        queue.offer(keyword(offered.back()));
    }
    ASSERT_EQ(30u, queue.size());
    std::sort(offered.rbegin(), offered.rend());
    offered.resize(30);
    std::vector<double> kept;
    for (const Keyword& k : queue) kept.push_back(k.probability());
    std::sort(kept.rbegin(), kept.rend());
    EXPECT_EQ(offered, kept);
    EXPECT_EQ(offered.back(), queue.top().probability());
    EXPECT_EQ(0.45, queue.threshold());
    EXPECT_EQ(30u, queue.maxKeywords());
}

TEST(KeywordQueueTest, ZeroCapacityKeepsNothing) {
    KeywordQueue queue(0, 0.0);
    EXPECT_FALSE(queue.offer(keyword(1.0)));
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.begin(), queue.end());
}

TEST(KeywordTest, PointsAtTheBytesItWasGiven) {
    const std::string stored = "hello";
    const Keyword k(stored.data(), 5, 0.75, 2, ClassName);
    EXPECT_EQ(stored.data(), k.token());
    EXPECT_EQ("hello", k.tokenView());
    EXPECT_EQ(0.75, k.probability());
    EXPECT_EQ(2u, k.count());
    EXPECT_EQ(ClassName, k.className());
}

using KeywordDeathTest = CheckReportFixture;

TEST_F(KeywordDeathTest, NullTokenIsAFailedCheck) {
    EXPECT_DEATH(
        {
            enterDir();
            Keyword(nullptr, 0, 0.5, 1, ClassName);
        },
        "");
    expectReport("token != nullptr", "Constructing a keyword with null ptr");
}

TEST(ClassificationTest, StartsWithoutCoverageAndOrdersNamesByUnsignedBytes) {
    Classification classification;
    EXPECT_EQ(-1.0, classification.getTextCoverage());
    EXPECT_TRUE(classification.getProbabilities().empty());
    classification.setProbability("\x80", 0.1);
    classification.setProbability("ab", 0.2);
    classification.setProbability("a", 0.3);
    classification.setProbability("B", 0.4);
    classification.setProbability("a", 0.5);  // overwrites
    std::vector<std::pair<std::string, double>> listed(classification.getProbabilities().begin(),
                                                       classification.getProbabilities().end());
    const std::vector<std::pair<std::string, double>> expected = {
        {"B", 0.4}, {"a", 0.5}, {"ab", 0.2}, {"\x80", 0.1}};
    EXPECT_EQ(expected, listed);
}

}  // namespace
}  // namespace norvale::classifier
