#include "classifier/storage/VectorLane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

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
    EXPECT_EQ(expected.size(), lane.featureCount());
    ParameterAccessor accessor(classCount);
    // Ordinals number the distinct features, whichever way they are looked up.
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
        std::uint32_t total = 0;
        std::size_t present = 0;
        for (std::uint16_t j = 0; j < classCount; ++j) {
            ASSERT_EQ(counts[j], lane.getCount(feature, j)) << feature << " class " << j;
            total += counts[j];
            present += counts[j] != 0;
        }
        EXPECT_EQ(total, accessor.total());
        EXPECT_EQ(present, accessor.classCount());
        ASSERT_NE(nullptr, accessor.featurePtr());
        EXPECT_EQ(feature, std::string(accessor.featurePtr(), N));
    }
    for (std::size_t i = absentFrom; i < absentFrom + 500; ++i) {
        lane.getParameters(indexedFeature<N>(i), accessor);
        ASSERT_EQ(nullptr, accessor.featurePtr()) << i;
        ASSERT_EQ(std::vector<std::uint32_t>(classCount), accessor.parameters()) << i;
        ASSERT_EQ(LaneBase::NoFeature, lane.findFeature(indexedFeature<N>(i))) << i;
        ASSERT_EQ(0u, lane.getCount(indexedFeature<N>(i), 0)) << i;
    }
}

// Trains features 0..count-1 with i % 4 + 1 classes each, then checks every lookup through each
// way the records move: compaction, a second round, removing a class, copy, store and load, clear.
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

    for (std::size_t i = count; i < count + count / 2; ++i) {
        expected[indexedFeature<N>(i)] = {0, 0, 7, 0};
        lane.add(indexedFeature<N>(i), 2, 7);
    }
    lane.add(indexedFeature<N>(0), 0, 5);
    expected[indexedFeature<N>(0)][0] += 5;
    lane.compact();
    expectLookupsMatch(lane, expected, 4, count + count / 2);

    // Dropping class 0 renumbers the others and leaves some features without records.
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
    EXPECT_TRUE(loaded.equals(lane));

    loaded.clear();
    expectLookupsMatch(loaded, {}, 3, 0);
    EXPECT_FALSE(loaded.equals(lane));
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
        std::uint32_t total = 0;
        std::set<std::string> unique;
        for (const auto& [key, count] : model) {
            if (count == 0) continue;
            wanted.emplace_back(key.first, key.second, count);
            total += count;
            unique.insert(key.first);
        }
        ASSERT_EQ(wanted, records(lane)) << "round " << round;
        ASSERT_EQ(total, lane.getTotalCount());
        ASSERT_EQ(unique.size(), lane.getUniqueCount());
    }
    // The rounds went through both ways a record comes back or goes away.
    EXPECT_GT(revived, 0);
    EXPECT_GT(dropped, 0);
}

TEST(VectorLaneTest, CompactionMatchesAnOrderedModelThroughManyRounds) {
    checkCompactionAgainstModel<2>();
    checkCompactionAgainstModel<9>();
}

}  // namespace
}  // namespace norvale::classifier::storage
