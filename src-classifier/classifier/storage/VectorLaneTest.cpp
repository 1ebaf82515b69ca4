#include "classifier/storage/VectorLane.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace norvale::classifier::storage {
namespace {

namespace fs = std::filesystem;

using Entry = std::tuple<std::string, std::uint16_t, std::uint32_t>;

std::vector<Entry> records(const LaneBase& lane) {
    std::vector<Entry> result;
    for (LaneIterator it = lane.begin(); it != lane.end(); ++it) {
        result.emplace_back(std::string(it.feature()), it.classIndex(), it.count());
    }
    return result;
}

TEST(VectorLaneTest, NewLaneIsCompactAndEmpty) {
    VectorLane<3> lane;
    EXPECT_TRUE(lane.isCompact());
    EXPECT_EQ(0u, lane.getUniqueCount());
    EXPECT_EQ(0u, lane.getTotalCount());
    EXPECT_EQ(nullptr, lane.begin().record());
    EXPECT_EQ(nullptr, lane.end().record());
    EXPECT_EQ(9u, lane.begin().recordSize());
    EXPECT_EQ(3u, lane.begin().featureSize());
    EXPECT_EQ(1.0f, lane.pending().max_load_factor());
    EXPECT_EQ(7u, VectorLane<0>().begin().recordSize());
    EXPECT_EQ(37u, VectorLane<31>().begin().recordSize());
}

TEST(VectorLaneTest, RecordsArePackedLittleEndianWithAFillerForTheEmptyFeature) {
    VectorLane<2> lane;
    lane.add("ab", 0x0102, 0x03040506);
    lane.compact();
    const std::vector<unsigned char> expected = {'a', 'b', 0x02, 0x01, 0x06, 0x05, 0x04, 0x03};
    ASSERT_EQ(lane.begin().record() + 8, lane.end().record());
    EXPECT_EQ(expected, std::vector<unsigned char>(lane.begin().record(), lane.end().record()));

    VectorLane<0> empty;
    empty.add("", 1, 2);
    empty.add("", 0, 5);
    empty.compact();
    const LaneIterator first = empty.begin();
    EXPECT_EQ(first.record() + 14, empty.end().record());
    EXPECT_EQ(std::vector<unsigned char>({0, 0, 5, 0, 0, 0}),
              std::vector<unsigned char>(first.record() + 1, first.record() + 7));
    EXPECT_EQ(std::vector<Entry>({{"", 0, 5}, {"", 1, 2}}), records(empty));
    EXPECT_EQ(5u, empty.getCount("", 0));
    EXPECT_EQ(1u, empty.getUniqueCount());
}

TEST(VectorLaneTest, AddCollectsUntilCompactAndSumsRepeatedPairs) {
    VectorLane<3> lane;
    EXPECT_TRUE(lane.add("abc", 1, 4));
    EXPECT_FALSE(lane.isCompact());
    EXPECT_FALSE(lane.add("abc", 1, 3));
    EXPECT_TRUE(lane.add("abc", 0, 1));
    lane.compact();
    EXPECT_TRUE(lane.isCompact());
    EXPECT_EQ(std::vector<Entry>({{"abc", 0, 1}, {"abc", 1, 7}}), records(lane));
    EXPECT_EQ(7u, lane.getCount("abc", 1));
    EXPECT_EQ(0u, lane.getCount("abc", 2));
    EXPECT_EQ(0u, lane.getCount("abd", 1));

    // On the compacted record, adding again changes it in place.
    EXPECT_FALSE(lane.add("abc", 1, 2));
    EXPECT_TRUE(lane.isCompact());
    EXPECT_EQ(9u, lane.getCount("abc", 1));
}

TEST(VectorLaneTest, SubToZeroKeepsTheRecordUntilCompactAndAddRevivesIt) {
    VectorLane<2> lane;
    lane.add("xy", 0, 3);
    lane.add("zz", 0, 1);
    lane.compact();

    std::uint32_t removed = 99;
    EXPECT_TRUE(lane.sub("xy", 0, 3, removed));
    EXPECT_EQ(3u, removed);
    EXPECT_EQ(1, lane.permaDeletedCount());
    EXPECT_FALSE(lane.isCompact());
    // A removed pair gives nothing more.
    EXPECT_FALSE(lane.sub("xy", 0, 1, removed));
    EXPECT_EQ(0u, removed);

    EXPECT_TRUE(lane.add("xy", 0, 2));
    EXPECT_EQ(0, lane.permaDeletedCount());
    EXPECT_TRUE(lane.isCompact());
    EXPECT_EQ(std::vector<Entry>({{"xy", 0, 2}, {"zz", 0, 1}}), records(lane));

    EXPECT_TRUE(lane.sub("zz", 0, 1, removed));
    lane.compact();
    EXPECT_EQ(std::vector<Entry>({{"xy", 0, 2}}), records(lane));
}

TEST(VectorLaneTest, SubTakesAtMostWhatIsPresentInEitherPart) {
    VectorLane<1> lane;
    lane.add("a", 0, 3);
    lane.compact();
    lane.add("b", 0, 10);

    std::uint32_t removed = 0;
    EXPECT_FALSE(lane.sub("a", 0, 1, removed));
    EXPECT_EQ(1u, removed);
    EXPECT_TRUE(lane.sub("a", 0, 5, removed));
    EXPECT_EQ(2u, removed);

    EXPECT_FALSE(lane.sub("b", 0, 4, removed));
    EXPECT_EQ(4u, removed);
    EXPECT_TRUE(lane.sub("b", 0, 6, removed));
    EXPECT_EQ(6u, removed);
    EXPECT_EQ(0u, lane.pendingCount());

    removed = 7;
    EXPECT_FALSE(lane.sub("c", 0, 1, removed));
    EXPECT_EQ(0u, removed);
    EXPECT_FALSE(lane.sub("a", 1, 1, removed));
    EXPECT_EQ(0u, removed);

    lane.compact();
    EXPECT_TRUE(records(lane).empty());
    EXPECT_EQ(nullptr, lane.begin().record());
}

TEST(VectorLaneTest, CompactSortsByUnsignedBytesThenClassIndex) {
    VectorLane<1> one;
    for (const char* feature : {"\x80", "\x7F", "\xFF", "\x01"}) one.add(feature, 0, 1);
    one.compact();
    EXPECT_EQ(std::vector<Entry>({{"\x01", 0, 1}, {"\x7F", 0, 1}, {"\x80", 0, 1}, {"\xFF", 0, 1}}),
              records(one));

    VectorLane<2> two;
    two.add(std::string("\x02\x00", 2), 0, 1);
    two.add("\x01\xFF", 2, 1);
    two.add("\x01\xFF", 0, 2);
    two.compact();
    // A second compaction merges new pending pairs between the sorted ones.
    two.add("\x01\xFF", 1, 3);
    two.compact();
    EXPECT_EQ(std::vector<Entry>({{"\x01\xFF", 0, 2},
                                  {"\x01\xFF", 1, 3},
                                  {"\x01\xFF", 2, 1},
                                  {std::string("\x02\x00", 2), 0, 1}}),
              records(two));
    EXPECT_EQ(2u, two.getUniqueCount());
    EXPECT_EQ(7u, two.getTotalCount());
}

TEST(VectorLaneTest, GetParametersFillsEveryClassOfOneFeature) {
    VectorLane<2> lane;
    lane.add("aa", 0, 1);
    lane.add("bb", 0, 4);
    lane.add("bb", 2, 6);
    lane.add("cc", 1, 9);
    lane.compact();

    ParameterAccessor accessor(3);
    EXPECT_EQ(&accessor, &lane.getParameters("bb", accessor));
    EXPECT_EQ(std::vector<std::uint32_t>({4, 0, 6}), accessor.parameters());
    EXPECT_EQ(2u, accessor.classCount());
    EXPECT_EQ(10u, accessor.total());
    LaneIterator second = ++lane.begin();
    EXPECT_EQ(reinterpret_cast<const char*>(second.record()), accessor.featurePtr());
    EXPECT_EQ("bb", std::string(accessor.featurePtr(), 2));

    // The next lookup starts from a reset accessor, also for features before, between and
    // after the stored ones.
    for (const char* absent : {"a0", "ba", "zz"}) {
        lane.getParameters(absent, accessor);
        EXPECT_EQ(nullptr, accessor.featurePtr()) << absent;
        EXPECT_EQ(std::vector<std::uint32_t>({0, 0, 0}), accessor.parameters());
        EXPECT_EQ(0u, accessor.classCount());
        EXPECT_EQ(0u, accessor.total());
    }
    lane.getParameters("cc", accessor);
    EXPECT_EQ(std::vector<std::uint32_t>({0, 9, 0}), accessor.parameters());
}

// Distinct features of N bytes for i < 65536 that differ in the first and in the last bytes, so
// both the word compare and the compare of the bytes after the last whole word decide.
template <std::size_t N>
std::string indexedFeature(std::size_t i) {
    std::string feature(N, 'q');
    feature[N - 1] = static_cast<char>(i & 0xff);
    feature[N - 2] = static_cast<char>(i >> 8);
    if (i % 2 == 1) feature[0] = static_cast<char>(feature[0] ^ 0x40);
    return feature;
}

// Every feature's counts per class, as the lane should report them.
using Expected = std::map<std::string, std::vector<std::uint32_t>>;

template <std::size_t N>
void expectLookupsMatch(const VectorLane<N>& lane, const Expected& expected,
                        std::size_t classCount, std::size_t absentFrom) {
    SCOPED_TRACE(N);
    EXPECT_EQ(expected.size(), lane.getUniqueCount());
    const std::size_t slots = lane.indexSlots();
    EXPECT_EQ(0u, slots & (slots - 1)) << slots;
    EXPECT_LE(2 * expected.size(), slots);
    ParameterAccessor accessor(classCount);
    // Ordinals number the distinct features, whichever way they are looked up.
    EXPECT_EQ(expected.size(), lane.featureCount());
    std::vector<bool> ordinalSeen(expected.size());
    for (const auto& [feature, counts] : expected) {
        const std::uint32_t ordinal = lane.findFeature(feature);
        LaneBase::Probe probe;
        lane.startProbe(feature, probe);
        lane.advanceProbe(probe);
        lane.advanceProbe(probe);
        ASSERT_EQ(ordinal, lane.findFeature(feature, probe)) << feature;
        ASSERT_LT(ordinal, expected.size()) << feature;
        ASSERT_FALSE(ordinalSeen[ordinal]) << feature;
        ordinalSeen[ordinal] = true;
        lane.getParameters(feature, accessor);
        ASSERT_EQ(counts, accessor.parameters()) << feature;
        ASSERT_NE(nullptr, accessor.featurePtr());
        EXPECT_EQ(feature, std::string(accessor.featurePtr(), N));
        for (std::uint16_t j = 0; j < classCount; ++j) {
            ASSERT_EQ(counts[j], lane.getCount(feature, j)) << feature << " class " << j;
        }
    }
    for (std::size_t i = absentFrom; i < absentFrom + 500; ++i) {
        lane.getParameters(indexedFeature<N>(i), accessor);
        ASSERT_EQ(nullptr, accessor.featurePtr()) << i;
        ASSERT_EQ(LaneBase::NoFeature, lane.findFeature(indexedFeature<N>(i))) << i;
        ASSERT_EQ(0u, lane.getCount(indexedFeature<N>(i), 0)) << i;
    }
}

// Trains features 0..count-1 with i % 4 + 1 classes each (and class 3 only with a
// count of its own), then checks every lookup through each way the records move.
template <std::size_t N>
void checkIndexThroughEveryChange(std::size_t count) {
    VectorLane<N> lane;
    Expected expected;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<std::uint32_t>& counts = expected[indexedFeature<N>(i)];
        counts.assign(4, 0);
        for (std::uint16_t j = 0; j <= i % 4; ++j) {
            counts[j] = static_cast<std::uint32_t>(i + j + 1);
            lane.add(indexedFeature<N>(i), j, counts[j]);
        }
    }
    lane.compact();
    expectLookupsMatch(lane, expected, 4, count);

    // A second round: new features and more counts for old ones, then a compaction.
    for (std::size_t i = count; i < count + count / 2; ++i) {
        expected[indexedFeature<N>(i)] = {0, 0, 7, 0};
        lane.add(indexedFeature<N>(i), 2, 7);
    }
    lane.add(indexedFeature<N>(0), 0, 5);
    expected[indexedFeature<N>(0)][0] += 5;
    lane.compact();
    expectLookupsMatch(lane, expected, 4, count + count / 2);

    // Dropping class 0 moves nearly every record and leaves some features without records.
    lane.removeClass(0);
    for (auto it = expected.begin(); it != expected.end();) {
        it->second.erase(it->second.begin());
        const bool empty = std::all_of(it->second.begin(), it->second.end(),
                                       [](std::uint32_t c) { return c == 0; });
        it = empty ? expected.erase(it) : std::next(it);
    }
    expectLookupsMatch(lane, expected, 3, count + count / 2);

    const VectorLane<N> copy(lane);
    expectLookupsMatch(copy, expected, 3, count + count / 2);

    std::string stored;
    util::database::DatabaseWriter writer(&stored);
    lane.serialize(writer);
    VectorLane<N> loaded;
    util::database::DatabaseReader reader(stored);
    loaded.deserialize(reader);
    expectLookupsMatch(loaded, expected, 3, count + count / 2);

    loaded.clear();
    EXPECT_EQ(0u, loaded.indexSlots());
    expectLookupsMatch(loaded, {}, 3, 0);
}

TEST(VectorLaneTest, HashIndexFindsEveryFeatureAfterEachChangeOfTheRecords) {
    checkIndexThroughEveryChange<3>(3000);
    checkIndexThroughEveryChange<8>(3000);
    checkIndexThroughEveryChange<11>(3000);
    checkIndexThroughEveryChange<16>(40);
}

// Random adds and subs over a few features of N bytes (bytes 0x00, 0x7F, 0x80 and 0xFF at the
// front and back, so signed and unsigned order differ) and 4 classes, compacted after each
// round and compared with an ordered map of the expected counts.
template <std::size_t N>
void checkCompactionAgainstModel() {
    SCOPED_TRACE(N);
    const std::string bytes("\x00\x7F\x80\xFF", 4);
    std::vector<std::string> features;
    for (char front : bytes) {
        for (char back : bytes) {
            std::string feature(N, 'f');
            feature.front() = front;
            feature.back() = back;
            features.push_back(feature);
        }
    }
    // std::string orders by unsigned bytes, as the lane does.
    std::map<std::pair<std::string, std::uint16_t>, std::uint32_t> model;
    VectorLane<N> lane;
    std::mt19937 random(N);
    int revived = 0;
    int dropped = 0;
    for (int round = 0; round < 300; ++round) {
        for (int step = 1 + static_cast<int>(random() % 12); step > 0; --step) {
            const std::string& feature = features[random() % features.size()];
            const auto classIndex = static_cast<std::uint16_t>(random() % 4);
            const auto count = static_cast<std::uint32_t>(1 + random() % 3);
            std::uint32_t& expected = model[{feature, classIndex}];
            if (random() % 5 < 3) {
                const int deletedBefore = lane.permaDeletedCount();
                ASSERT_EQ(expected == 0, lane.add(feature, classIndex, count));
                revived += deletedBefore - lane.permaDeletedCount();
                expected += count;
            } else {
                std::uint32_t removed = 0;
                const bool gone = lane.sub(feature, classIndex, count, removed);
                ASSERT_EQ(std::min(expected, count), removed);
                ASSERT_EQ(expected != 0 && removed == expected, gone);
                expected -= removed;
            }
        }
        dropped += lane.permaDeletedCount();
        lane.compact();
        std::vector<Entry> wanted;
        for (const auto& [key, count] : model) {
            if (count != 0) wanted.emplace_back(key.first, key.second, count);
        }
        ASSERT_EQ(wanted, records(lane)) << "round " << round;
    }
    // The rounds went through both ways a record comes back or goes away.
    EXPECT_GT(revived, 0);
    EXPECT_GT(dropped, 0);
    Expected lookups;
    for (const auto& [key, count] : model) {
        if (count == 0) continue;
        std::vector<std::uint32_t>& counts = lookups[key.first];
        counts.resize(4);
        counts[key.second] = count;
    }
    ParameterAccessor accessor(4);
    for (const std::string& feature : features) {
        lane.getParameters(feature, accessor);
        const auto found = lookups.find(feature);
        EXPECT_EQ(found == lookups.end() ? std::vector<std::uint32_t>(4) : found->second,
                  accessor.parameters());
    }
}

TEST(VectorLaneTest, CompactionMatchesAnOrderedModelThroughManyRounds) {
    checkCompactionAgainstModel<2>();
    checkCompactionAgainstModel<9>();
}

TEST(VectorLaneTest, CompactionPutsRecordsLoadedOutOfOrderInOrder) {
    VectorLane<2> lane;
    lane.add("aa", 0, 1);
    lane.add("cc", 1, 2);
    lane.compact();
    std::string stored;
    util::database::DatabaseWriter writer(&stored);
    lane.serialize(writer);
    // Swap the two 8-byte records behind the 4-byte record count.
    ASSERT_EQ(4u + 16u, stored.size());
    std::rotate(stored.begin() + 4, stored.begin() + 12, stored.end());
    VectorLane<2> loaded;
    util::database::DatabaseReader reader(stored);
    loaded.deserialize(reader);
    EXPECT_EQ(std::vector<Entry>({{"cc", 1, 2}, {"aa", 0, 1}}), records(loaded));

    loaded.add("bb", 0, 3);
    loaded.compact();
    EXPECT_EQ(std::vector<Entry>({{"aa", 0, 1}, {"bb", 0, 3}, {"cc", 1, 2}}), records(loaded));
}

TEST(VectorLaneTest, RemoveClassDropsItsRecordsAndRenumbersHigherClasses) {
    VectorLane<1> lane;
    for (std::uint16_t classIndex : {0, 1, 2}) lane.add("m", classIndex, classIndex + 1u);
    lane.add("a", 1, 5);
    lane.add("z", 2, 7);
    lane.compact();

    lane.removeClass(1);
    EXPECT_EQ(std::vector<Entry>({{"m", 0, 1}, {"m", 1, 3}, {"z", 1, 7}}), records(lane));
    ParameterAccessor accessor(2);
    lane.getParameters("m", accessor);
    EXPECT_EQ(std::vector<std::uint32_t>({1, 3}), accessor.parameters());

    lane.removeClass(0);
    EXPECT_EQ(std::vector<Entry>({{"m", 0, 3}, {"z", 0, 7}}), records(lane));
    lane.removeClass(5);
    EXPECT_EQ(2u, records(lane).size());
}

TEST(VectorLaneTest, CopyBeforeCompactionCompactsToTheSameRecords) {
    VectorLane<2> lane;
    lane.add("aa", 0, 2);
    lane.add("bb", 1, 3);
    lane.compact();
    std::uint32_t removed = 0;
    lane.sub("aa", 0, 2, removed);
    lane.add("cc", 0, 1);

    VectorLane<2> copy(lane);
    EXPECT_EQ(1, copy.permaDeletedCount());
    EXPECT_EQ(1u, copy.pendingCount());
    lane.compact();
    copy.compact();
    EXPECT_TRUE(lane.equals(copy));
    EXPECT_EQ(std::vector<Entry>({{"bb", 1, 3}, {"cc", 0, 1}}), records(copy));

    // The copy is independent of the original.
    copy.add("bb", 1, 1);
    EXPECT_FALSE(lane.equals(copy));
    EXPECT_EQ(3u, lane.getCount("bb", 1));
}

TEST(VectorLaneTest, EqualsComparesRecordsAndLaneLength) {
    VectorLane<1> left;
    VectorLane<1> right;
    EXPECT_TRUE(left.equals(right));
    left.add("a", 0, 1);
    left.compact();
    EXPECT_FALSE(left.equals(right));
    right.add("a", 1, 1);
    right.compact();
    EXPECT_FALSE(left.equals(right));
    right.clear();
    right.add("a", 0, 1);
    right.compact();
    EXPECT_TRUE(left.equals(right));
    EXPECT_FALSE(left.equals(VectorLane<2>()));
    EXPECT_FALSE(VectorLane<0>().equals(VectorLane<1>()));
}

TEST(VectorLaneTest, ClearEmptiesBothPartsAndLeavesTheLaneCompact) {
    VectorLane<1> lane;
    lane.add("a", 0, 1);
    lane.compact();
    std::uint32_t removed = 0;
    lane.sub("a", 0, 1, removed);
    lane.add("b", 0, 1);
    lane.clear();
    EXPECT_TRUE(lane.isCompact());
    EXPECT_TRUE(records(lane).empty());
    EXPECT_EQ(0u, lane.getCount("b", 0));
}

// Failed internal checks: each runs in a death-test child whose working directory is a fresh
// folder, so the report it appends to "assertion.txt" can be read afterwards.
class VectorLaneDeathTest : public testing::Test {
protected:
    void SetUp() override {
        _dir = fs::temp_directory_path() /
               ("qm_lane_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(_dir);
        fs::create_directories(_dir);
    }
    void TearDown() override { fs::remove_all(_dir); }

    void enterDir() const {
        if (::chdir(_dir.c_str()) != 0) std::_Exit(3);
    }
    std::string report() const {
        std::ifstream in(_dir / "assertion.txt", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void expectReport(const std::string& expression, const std::string& description) const {
        EXPECT_THAT(report(), testing::HasSubstr("Assertion failed. Message: " + expression +
                                                 "\nDescription: " + description + "\n"));
    }

    fs::path _dir;
};

TEST_F(VectorLaneDeathTest, ReadingBeforeCompactReportsTheCompactionCheck) {
    VectorLane<1> lane;
    lane.add("a", 0, 1);
    EXPECT_DEATH(
        {
            enterDir();
            lane.getCount("a", 0);
        },
        "");
    expectReport("isCompact()", "The lane has not been compacted since training");
}

TEST_F(VectorLaneDeathTest, FeatureOfOtherLengthReportsTheLengthCheck) {
    VectorLane<2> lane;
    EXPECT_DEATH(
        {
            enterDir();
            lane.add("abc", 0, 1);
        },
        "");
    expectReport("feature.size() == N", "A feature has other than lane size");
}

TEST_F(VectorLaneDeathTest, ZeroCountsReportTheirOwnMessages) {
    VectorLane<1> lane;
    std::uint32_t removed = 0;
    EXPECT_DEATH(
        {
            enterDir();
            lane.add("a", 0, 0);
        },
        "");
    EXPECT_DEATH(
        {
            enterDir();
            lane.sub("a", 0, 0, removed);
        },
        "");
    expectReport("count > 0", "Trying to add zero or below feature count");
    expectReport("count > 0", "Trying to sub zero or below feature count");
}

TEST_F(VectorLaneDeathTest, AccessorSmallerThanTheClassIndexReportsBeforeWriting) {
    VectorLane<1> lane;
    lane.add("a", 2, 1);
    lane.compact();
    ParameterAccessor accessor(2);
    EXPECT_DEATH(
        {
            enterDir();
            lane.getParameters("a", accessor);
        },
        "");
    expectReport("parameter.classIndex() < _parameters.size()",
                 "The parameter accessor array is to short");
}

}  // namespace
}  // namespace norvale::classifier::storage
