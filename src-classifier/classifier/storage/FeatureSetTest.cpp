#include "classifier/storage/FeatureSet.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "classifier/CheckReportFixture.h"
#include "classifier/ClassifierException.h"

namespace norvale::classifier::storage {
namespace {

using Entry = std::tuple<std::string, std::uint16_t, std::uint32_t>;

std::vector<Entry> records(const LaneBase& lane) {
    std::vector<Entry> result;
    for (LaneIterator it = lane.begin(); it != lane.end(); ++it) {
        result.emplace_back(std::string(it.feature()), it.classIndex(), it.count());
    }
    return result;
}

std::string messageOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ClassifierException& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

TEST(FeatureSetTest, NewSetHasThirtyTwoEmptyLanesAndNoClasses) {
    const FeatureSet set;
    EXPECT_EQ(0u, set.classCount());
    ASSERT_EQ(32u, set.laneCount());
    for (std::size_t k = 0; k < set.laneCount(); ++k) {
        EXPECT_EQ(k, set.lane(k).begin().featureSize());
        EXPECT_TRUE(records(set.lane(k)).empty());
    }
}

TEST(FeatureSetTest, RemovingAClassPacksTheIndexesInEveryLane) {
    FeatureSet set;
    set.addClass("a");
    set.addClass("b");
    set.addClass("c");
    EXPECT_EQ(0, set.getClass("a")._classIndex);
    EXPECT_EQ(1, set.getClass("b")._classIndex);
    set.add("a", "x", 1);
    set.add("b", "x", 2);
    set.add("c", "x", 3);
    set.add("b", "", 4);
    set.add("c", "long feature", 5);
    set.compact();

    set.removeClass("a");
    ASSERT_EQ(2u, set.classCount());
    EXPECT_EQ((ClassRecord{"b", 0, 6, 2}), set.classAt(0));
    EXPECT_EQ((ClassRecord{"c", 1, 8, 2}), set.classAt(1));
    EXPECT_EQ(std::vector<Entry>({{"x", 0, 2}, {"x", 1, 3}}), records(set.lane(1)));
    EXPECT_EQ(std::vector<Entry>({{"", 0, 4}}), records(set.lane(0)));
    EXPECT_EQ(std::vector<Entry>({{"long feature", 1, 5}}), records(set.lane(12)));

    set.removeClass("c");
    EXPECT_EQ((ClassRecord{"b", 0, 6, 2}), set.classAt(0));
    EXPECT_EQ(std::vector<Entry>({{"x", 0, 2}}), records(set.lane(1)));
    EXPECT_TRUE(records(set.lane(12)).empty());
}

TEST(FeatureSetTest, UniqueAndTotalCountsFollowTrainingAndUntraining) {
    FeatureSet set;
    set.addClass("c");
    set.add("c", "ab", 2);
    set.add("c", "ab", 3);
    EXPECT_EQ((ClassRecord{"c", 0, 5, 1}), set.getClass("c"));

    set.compact();
    set.sub("c", "ab", 5);  // to zero in the sorted records
    EXPECT_EQ((ClassRecord{"c", 0, 0, 0}), set.getClass("c"));
    set.add("c", "ab", 1);  // revived before compaction
    EXPECT_EQ((ClassRecord{"c", 0, 1, 1}), set.getClass("c"));
    set.compact();
    set.sub("c", "ab", 1);
    set.compact();
    set.add("c", "ab", 1);  // trained again after compaction
    EXPECT_EQ((ClassRecord{"c", 0, 1, 1}), set.getClass("c"));
    set.sub("c", "ab", 1);
    EXPECT_EQ((ClassRecord{"c", 0, 0, 0}), set.getClass("c"));
}

TEST(FeatureSetTest, SubtractingTakesAtMostWhatIsPresent) {
    FeatureSet set;
    set.addClass("c");
    set.addClass("d");
    set.add("c", "abc", 3);
    set.add("c", "xyz", 4);
    set.add("d", "abc", 1);
    set.compact();

    set.sub("c", "abc", 5);
    EXPECT_EQ((ClassRecord{"c", 0, 4, 1}), set.getClass("c"));
    set.sub("c", "never", 2);  // absent feature
    set.sub("c", "abc", 1);    // already at zero
    EXPECT_EQ((ClassRecord{"c", 0, 4, 1}), set.getClass("c"));
    set.compact();
    EXPECT_EQ(std::vector<Entry>({{"abc", 1, 1}, {"xyz", 0, 4}}), records(set.lane(3)));
    EXPECT_EQ((ClassRecord{"d", 1, 1, 1}), set.getClass("d"));
}

TEST(FeatureSetTest, CallerErrorsThrowTheirMessagesAndChangeNothing) {
    FeatureSet set;
    set.addClass("Spam");
    set.addClass("spam");  // another class: names are case-sensitive
    EXPECT_EQ("Trying to add a class with an empty name.", messageOf([&] { set.addClass(""); }));
    EXPECT_EQ(
        "Trying to add an already existing class with the name 'Spam'. Use classExists to find "
        "out if a class already is added.",
        messageOf([&] { set.addClass("Spam"); }));
    EXPECT_EQ("Trying to remove a nonexisting class with the name 'ham'.",
              messageOf([&] { set.removeClass("ham"); }));
    EXPECT_EQ("Trying to get a nonexisting class with the name 'ham'.",
              messageOf([&] { set.getClass("ham"); }));
    EXPECT_EQ("Trying to get a nonexisting class with the name 'SPAM'.",
              messageOf([&] { set.add("SPAM", "f", 1); }));
    EXPECT_EQ("Trying to get a nonexisting class with the name 'x'.",
              messageOf([&] { set.sub("x", "f", 1); }));
    ASSERT_EQ(2u, set.classCount());
    EXPECT_EQ((ClassRecord{"Spam", 0, 0, 0}), set.classAt(0));
    EXPECT_EQ((ClassRecord{"spam", 1, 0, 0}), set.classAt(1));
    EXPECT_TRUE(set.classExists("spam"));
    EXPECT_FALSE(set.classExists("SPAM"));
    EXPECT_EQ(set.classes().end(), set.findClass("Spa"));
    EXPECT_EQ(set.classes().begin() + 1, set.findClass("spam"));
    set.compact();
    EXPECT_TRUE(records(set.lane(1)).empty());
}

TEST(FeatureSetTest, CopyIsDeepAndKeepsWhatIsNotCompactedYet) {
    FeatureSet original;
    original.addClass("a");
    original.add("a", "one", 1);
    original.compact();
    original.add("a", "two", 2);
    original.sub("a", "one", 1);

    FeatureSet copy(original);
    copy.add("a", "three", 3);
    copy.addClass("b");
    copy.compact();
    original.compact();
    EXPECT_EQ(std::vector<Entry>({{"two", 0, 2}}), records(original.lane(3)));
    EXPECT_TRUE(records(original.lane(5)).empty());
    EXPECT_EQ(1u, original.classCount());
    EXPECT_EQ((ClassRecord{"a", 0, 2, 1}), original.classAt(0));
    EXPECT_EQ(std::vector<Entry>({{"two", 0, 2}}), records(copy.lane(3)));
    EXPECT_EQ(std::vector<Entry>({{"three", 0, 3}}), records(copy.lane(5)));
    EXPECT_EQ((ClassRecord{"a", 0, 5, 2}), copy.classAt(0));
}

TEST(FeatureSetTest, ClearAndSwap) {
    FeatureSet left;
    left.addClass("a");
    left.add("a", "f", 1);
    FeatureSet right;
    right.addClass("b");
    right.addClass("c");
    left.swap(right);
    EXPECT_EQ(2u, left.classCount());
    EXPECT_EQ("a", right.classAt(0)._name);
    right.compact();
    EXPECT_EQ(std::vector<Entry>({{"f", 0, 1}}), records(right.lane(1)));
    right.clear();
    EXPECT_EQ(0u, right.classCount());
    EXPECT_TRUE(records(right.lane(1)).empty());
}

using FeatureSetDeathTest = CheckReportFixture;

TEST_F(FeatureSetDeathTest, FeaturesOfThirtyTwoBytesOrMoreAreAFailedCheck) {
    FeatureSet set;
    set.addClass("c");
    set.add("c", std::string(31, 'x'), 1);
    EXPECT_EQ(1u, set.getClass("c")._count);
    EXPECT_DEATH(
        {
            enterDir();
            set.add("c", std::string(32, 'x'), 1);
        },
        "");
    expectReport("feature.size() < _lanes.size()",
                 "Add with feature bigger than max allowed size (32)");
}

TEST_F(FeatureSetDeathTest, SubtractingALongFeatureIsTheSameCheck) {
    FeatureSet set;
    set.addClass("c");
    EXPECT_DEATH(
        {
            enterDir();
            set.sub("missing class too", std::string(40, 'x'), 1);
        },
        "");
    expectReport("feature.size() < _lanes.size()",
                 "Add with feature bigger than max allowed size (32)");
}

}  // namespace
}  // namespace norvale::classifier::storage
