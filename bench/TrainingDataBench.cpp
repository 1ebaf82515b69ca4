// Loading a classifier from its data blob (setTrainingData of a ~100 MB format 5 blob) against a
// plain copy of the same bytes into a new string, in the same run; writing the blob
// (getTrainingData) is shown beside them. Each iteration includes freeing what it built.
//
// The blob is generated directly in its stored form, so setting it up takes no training: 10
// classes, features of 3 to 31 bytes in every lane, each feature in 1 to 3 classes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classifier/ClassifierImpl.h"
#include "util/database/DatabaseWriter.h"

namespace {

using norvale::classifier::ClassifierImpl;
using util::database::DatabaseWriter;

constexpr std::size_t TargetBytes = 100u << 20;
constexpr std::uint16_t ClassCount = 10;
constexpr std::size_t ShortestFeature = 3;
constexpr std::size_t LaneCount = 32;

class Generator {
public:
    std::uint32_t next(std::uint32_t bound) {
        _state = _state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(_state >> 33) % bound;
    }

private:
    std::uint64_t _state = 7;
};

// The lane records of one feature length: features in increasing order (a fixed-width base-26
// counter, stopped before it wraps so no feature repeats), each with 1 to 3 increasing class
// indexes.
std::string laneRecords(std::size_t length, std::size_t budget, Generator& random,
                        std::vector<std::uint32_t>& counts, std::vector<std::uint32_t>& unique) {
    std::string records;
    std::string feature(length, 'a');
    std::uint64_t number = 0;
    const std::size_t recordSize = length + 6;
    std::uint64_t features = 1;  // 26^length, capped far above any budget
    for (std::size_t i = 0; i < length && features < (1ULL << 40); ++i) features *= 26;
    while (records.size() + 3 * recordSize <= budget && number < features) {
        std::uint64_t value = number++;
        for (std::size_t i = length; i-- > 0;) {
            feature[i] = static_cast<char>('a' + value % 26);
            value /= 26;
        }
        const std::uint32_t classes = 1 + random.next(3);
        std::uint16_t classIndex = static_cast<std::uint16_t>(random.next(ClassCount - 2));
        for (std::uint32_t k = 0; k < classes; ++k, ++classIndex) {
            const std::uint32_t count = 1 + random.next(20);
            DatabaseWriter writer(&records);
            writer.putBytes(feature.data(), length);
            writer.putPrimitive(classIndex);
            writer.putPrimitive(count);
            counts[classIndex] += count;
            ++unique[classIndex];
        }
    }
    return records;
}

std::string makeBlob() {
    Generator random;
    std::vector<std::uint32_t> counts(ClassCount);
    std::vector<std::uint32_t> unique(ClassCount);
    std::vector<std::string> lanes(LaneCount);
    const std::size_t perLane = TargetBytes / (LaneCount - ShortestFeature);
    for (std::size_t n = ShortestFeature; n < LaneCount; ++n) {
        lanes[n] = laneRecords(n, perLane, random, counts, unique);
    }

    std::string blob;
    DatabaseWriter writer(&blob);
    writer.putPrimitive(ClassifierImpl::DataVersion);
    writer.putPrimitive(ClassifierImpl::NewExtractorVersion);
    writer.putPrimitive(0.05);
    writer.putPrimitive(ClassCount);
    for (std::uint16_t k = 0; k < ClassCount; ++k) {
        writer.putString("class " + std::to_string(k));
        writer.putPrimitive(k);
        writer.putPrimitive(counts[k]);
        writer.putPrimitive(unique[k]);
    }
    for (std::size_t n = 0; n < LaneCount; ++n) {
        writer.putPrimitive(static_cast<std::uint32_t>(lanes[n].size() / (n + 6)));
        writer.putBytes(lanes[n].data(), lanes[n].size());
    }
    return blob;
}

const std::string& blob() {
    static const std::string data = makeBlob();
    return data;
}

void copyBlob(benchmark::State& state) {
    const std::string& data = blob();
    for (auto _ : state) {
        std::string copy(data);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void setTrainingData(benchmark::State& state) {
    const std::string& data = blob();
    for (auto _ : state) {
        ClassifierImpl classifier(nullptr, 0.05);
        classifier.setTrainingData(data);
        benchmark::DoNotOptimize(&classifier);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
    state.counters["blob_MB"] = static_cast<double>(data.size()) / 1e6;
}

void getTrainingData(benchmark::State& state) {
    const std::string& data = blob();
    ClassifierImpl classifier(nullptr, 0.05);
    classifier.setTrainingData(data);
    for (auto _ : state) {
        const std::string written = classifier.getTrainingData();
        benchmark::DoNotOptimize(written.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

BENCHMARK(copyBlob)->Unit(benchmark::kMillisecond);
BENCHMARK(setTrainingData)->Unit(benchmark::kMillisecond);
BENCHMARK(getTrainingData)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
