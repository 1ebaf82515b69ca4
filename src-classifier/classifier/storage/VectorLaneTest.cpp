#include "classifier/storage/VectorLane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace norvale::classifier::storage {
namespace {

using Entry = std::tuple<std::string, std::uint16_t, std::uint32_t>;
constexpr std::uint16_t Classes = 4;

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

// The expected counts, ordered as the lane orders its records: std::string compares unsigned
// bytes, as the lane does.
using Model = std::map<std::pair<std::string, std::uint16_t>, std::uint32_t>;

// The lane holds exactly the model's non-zero counts, in order, and every lookup of every
// feature, by hash and by probe, gives its counts and an ordinal of its own; features the lane
// never held are found nowhere.
template <std::size_t N>
void expectLaneMatches(const VectorLane<N>& lane, const Model& model,
                       const std::vector<std::string>& absent) {
    std::vector<Entry> wanted;
    std::map<std::string, std::vector<std::uint32_t>> counts;
    for (const auto& [key, count] : model) {
        if (count == 0) continue;
        wanted.emplace_back(key.first, key.second, count);
        counts.try_emplace(key.first, Classes).first->second[key.second] = count;
    }
    std::vector<Entry> held;
    for (LaneIterator it = lane.begin(); it != lane.end(); ++it) {
        held.emplace_back(std::string(it.feature()), it.classIndex(), it.count());
    }
    ASSERT_EQ(wanted, held);
    ASSERT_EQ(counts.size(), lane.featureCount());
    ParameterAccessor accessor(Classes);
    std::vector<bool> ordinalSeen(counts.size());
    for (const auto& [feature, expected] : counts) {
        const std::uint32_t ordinal = lane.findFeature(feature);
        LaneBase::Probe probe;
        lane.startProbe(feature, probe);
        lane.advanceProbe(probe);
        lane.advanceProbe(probe);
        ASSERT_EQ(ordinal, lane.findFeature(feature, probe));
        ASSERT_LT(ordinal, counts.size());
        ASSERT_FALSE(ordinalSeen[ordinal]);
        ordinalSeen[ordinal] = true;
        lane.getParameters(feature, accessor);
        ASSERT_EQ(expected, accessor.parameters());
        ASSERT_EQ(feature, std::string(accessor.featurePtr(), N));
    }
    for (const std::string& feature : absent) {
        lane.getParameters(feature, accessor);
        ASSERT_EQ(nullptr, accessor.featurePtr());
        ASSERT_EQ(std::vector<std::uint32_t>(Classes), accessor.parameters());
        ASSERT_EQ(LaneBase::NoFeature, lane.findFeature(feature));
    }
}

// Random adds and subs over `count` features of N bytes (and 16 with the bytes 0x00, 0x7F, 0x80
// and 0xFF at the front and back, so signed and unsigned order differ) and 4 classes, compacted
// after each round and compared with an ordered model; then every other way the records move:
// removing a class, copy, clear. (Storing and loading are followed by ClassifierImplTest.)
template <std::size_t N>
void checkLaneAgainstModel(std::size_t count, int rounds) {
    SCOPED_TRACE(N);
    std::vector<std::string> features;
    std::vector<std::string> absent;
    for (std::size_t i = 0; i < count; ++i) features.push_back(indexedFeature<N>(i));
    for (std::size_t i = 0; i < 200; ++i) absent.push_back(indexedFeature<N>(count + 1024 + i));
    const std::string bytes("\x00\x7F\x80\xFF", 4);
    for (char front : bytes) {
        for (char back : bytes) features.push_back(front + std::string(N - 2, 'f') + back);
    }
    Model model;
    VectorLane<N> lane;
    std::mt19937 random(N);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        // Some rounds touch many features at once, so that the lookups are rebuilt in bulk.
        const std::size_t steps = 1 + random() % (round % 10 == 0 ? 4 * features.size() : 12);
        for (std::size_t step = 0; step < steps; ++step) {
            const std::string& feature = features[random() % features.size()];
            const auto classIndex = static_cast<std::uint16_t>(random() % Classes);
            const auto amount = static_cast<std::uint32_t>(1 + random() % 3);
            std::uint32_t& expected = model[{feature, classIndex}];
            if (random() % 5 < 3) {
                ASSERT_EQ(expected == 0, lane.add(feature, classIndex, amount));
                expected += amount;
            } else {
                std::uint32_t removed = 0;
                const bool gone = lane.sub(feature, classIndex, amount, removed);
                ASSERT_EQ(std::min(expected, amount), removed);
                ASSERT_EQ(expected != 0 && removed == expected, gone);
                expected -= removed;
            }
        }
        lane.compact();
        expectLaneMatches(lane, model, absent);
    }
    // Dropping class 0 renumbers the others and leaves some features without records.
    lane.removeClass(0);
    Model renumbered;
    for (const auto& [key, value] : model) {
        if (key.second > 0) renumbered[{key.first, key.second - 1}] = value;
    }
    expectLaneMatches(lane, renumbered, absent);
    expectLaneMatches(VectorLane<N>(lane), renumbered, absent);
    lane.clear();
    expectLaneMatches(lane, {}, features);
}

TEST(VectorLaneTest, RecordsAndLookupsMatchAnOrderedModelThroughEveryChange) {
    checkLaneAgainstModel<2>(0, 300);
    checkLaneAgainstModel<3>(1500, 60);
    checkLaneAgainstModel<8>(1500, 60);
    checkLaneAgainstModel<9>(0, 300);
    checkLaneAgainstModel<11>(1500, 60);
    checkLaneAgainstModel<16>(40, 100);
    // Records and index past MappedAllocator::MappedBytes live in pages of their own.
    checkLaneAgainstModel<24>(6000, 30);
}

}  // namespace
}  // namespace norvale::classifier::storage
