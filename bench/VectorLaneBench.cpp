// getParameters on a compacted lane of 1,000,000 records of 8-byte features, next to a bare
// std::lower_bound over a copy of the same packed records, with the same keys (half present,
// half absent) in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "classifier/storage/VectorLane.h"

namespace {

using norvale::classifier::storage::LaneBase;
using norvale::classifier::storage::LaneRecord;
using norvale::classifier::storage::ParameterAccessor;
using norvale::classifier::storage::VectorLane;

constexpr std::size_t FeatureSize = 8;
constexpr std::size_t FeatureCount = 500000;
constexpr std::uint16_t ClassCount = 4;
constexpr std::size_t KeyCount = 1 << 16;

using Record = LaneRecord<FeatureSize>;

std::string randomFeature(std::mt19937_64& random) {
    const std::uint64_t bits = random();
    std::string feature(FeatureSize, '\0');
    std::memcpy(feature.data(), &bits, FeatureSize);
    return feature;
}

struct Fixture {
    VectorLane<FeatureSize> lane;
    std::vector<Record> bare;
    std::vector<std::string> keys;

    Fixture() {
        std::mt19937_64 random(7);
        std::vector<std::string> features;
        for (std::size_t i = 0; i < FeatureCount; ++i) {
            features.push_back(randomFeature(random));
            // Two classes per feature: 1,000,000 records.
            const auto first = static_cast<std::uint16_t>(random() % ClassCount);
            lane.add(features.back(), first, 1 + random() % 50);
            lane.add(features.back(), (first + 1 + random() % (ClassCount - 1)) % ClassCount,
                     1 + random() % 50);
        }
        lane.compact();
        const auto* begin = reinterpret_cast<const Record*>(lane.begin().record());
        const auto* end = reinterpret_cast<const Record*>(lane.end().record());
        bare.assign(begin, end);
        for (std::size_t i = 0; i < KeyCount; ++i) {
            keys.push_back(i % 2 == 0 ? features[random() % features.size()]
                                      : randomFeature(random));
        }
        std::shuffle(keys.begin(), keys.end(), random);
    }
};

const Fixture& fixture() {
    static const Fixture built;
    return built;
}

void laneGetParameters(benchmark::State& state) {
    const Fixture& data = fixture();
    const LaneBase& lane = data.lane;
    ParameterAccessor accessor(ClassCount);
    std::size_t next = 0;
    for (auto _ : state) {
        lane.getParameters(data.keys[next], accessor);
        benchmark::DoNotOptimize(accessor.total());
        next = (next + 1) % KeyCount;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["records"] = static_cast<double>(data.bare.size());
}

// The floor: a binary search over the same packed bytes, one equality check, no accessor.
void bareLowerBound(benchmark::State& state) {
    const Fixture& data = fixture();
    std::size_t next = 0;
    for (auto _ : state) {
        const auto* key = reinterpret_cast<const unsigned char*>(data.keys[next].data());
        const auto found =
            std::lower_bound(data.bare.begin(), data.bare.end(), key,
                             [](const Record& record, const unsigned char* wanted) {
                                 return std::memcmp(record.feature(), wanted, FeatureSize) < 0;
                             });
        const bool hit =
            found != data.bare.end() && std::memcmp(found->feature(), key, FeatureSize) == 0;
        benchmark::DoNotOptimize(hit ? found->count() : 0u);
        next = (next + 1) % KeyCount;
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(bareLowerBound);
BENCHMARK(laneGetParameters);

}  // namespace

BENCHMARK_MAIN();
