// Training and classification throughput of ClassifierImpl with 2, 10 and 100 classes, each
// classifier first trained with 20 MB of generated text, and, in the same run, the lane lookups
// of the classified texts alone (one getParameters per distinct feature of each text), the floor
// a classification cannot go below. trainOneText: the cost of one train call with the compaction
// that follows it, as the server does per call, in classifiers of 10k, 100k and 1M records.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classifier/ClassifierImpl.h"
#include "classifier/FeatureExtractor.h"

namespace {

using norvale::classifier::Classification;
using norvale::classifier::ClassifierImpl;
using norvale::classifier::FeatureCounts;
using norvale::classifier::storage::ParameterAccessor;

constexpr std::size_t VocabularySize = 300000;
constexpr std::size_t TrainingBytes = 20 << 20;
constexpr std::size_t DocumentSize = 2 << 10;
constexpr std::size_t HeldOutDocuments = 1000;
constexpr std::size_t CompactEvery = 500;

// A small fixed generator, so every run and every machine sees the same text.
class Generator {
public:
    std::uint32_t next(std::uint32_t bound) {
        _state = _state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(_state >> 33) % bound;
    }
    double unit() { return next(1u << 30) / static_cast<double>(1u << 30); }

private:
    std::uint64_t _state = 42;
};

// Words of 2 to 12 letters, ranked; rank r is drawn with probability proportional to
// 1 / (r + 1) (Zipf with exponent 1), by inverting the harmonic sum.
class Corpus {
public:
    Corpus() {
        for (std::size_t i = 0; i < VocabularySize; ++i) {
            const std::size_t length = 2 + _random.next(6) + _random.next(6);
            std::string word;
            for (std::size_t j = 0; j < length; ++j) word.push_back('a' + _random.next(26));
            _words.push_back(word);
        }
    }

    std::uint32_t zipfRank() {
        // H(n) ~ ln(n) + 0.5772; solve H(r) = u * H(V) for r.
        const double total = std::log(static_cast<double>(VocabularySize)) + 0.5772;
        const double rank = std::exp(_random.unit() * total - 0.5772);
        return static_cast<std::uint32_t>(std::min<double>(rank, VocabularySize - 1));
    }

    // A document of class c of the given class count: most words follow the common ranking,
    // one in four follows the class's own ranking, so classes differ the way topics do.
    std::string document(std::size_t c, std::size_t classes) {
        std::string text;
        while (text.size() < DocumentSize) {
            std::uint32_t rank = zipfRank();
            if (_random.next(4) == 0) {
                rank = static_cast<std::uint32_t>((rank * 7919ULL + (c + 1) * 104729ULL * classes) %
                                                  VocabularySize);
            }
            text += _words[rank];
            text += _random.next(12) == 0 ? ". " : " ";
        }
        return text;
    }

private:
    Generator _random;
    std::vector<std::string> _words;
};

struct Fixture {
    std::unique_ptr<ClassifierImpl> classifier;
    std::vector<std::string> heldOut;  // never trained; classified and trained in the runs
    std::vector<std::vector<std::string>> heldOutFeatures;  // distinct features of each
    std::size_t heldOutBytes = 0;
};

const Fixture& fixture(std::size_t classes) {
    static std::map<std::size_t, Fixture> built;
    if (auto found = built.find(classes); found != built.end()) return found->second;
    Fixture& made = built[classes];
    Corpus corpus;
    made.classifier = std::make_unique<ClassifierImpl>(nullptr, 0.05);
    for (std::size_t c = 0; c < classes; ++c)
        made.classifier->addClass("class" + std::to_string(c));
    std::size_t trained = 0;
    for (std::size_t d = 0; trained < TrainingBytes; ++d) {
        const std::string text = corpus.document(d % classes, classes);
        made.classifier->train("class" + std::to_string(d % classes), text);
        trained += text.size();
        if (d % CompactEvery == 0) made.classifier->compact();
    }
    made.classifier->compact();
    const auto extractor = norvale::classifier::createFeatureExtractor(5);
    for (std::size_t d = 0; d < HeldOutDocuments; ++d) {
        made.heldOut.push_back(corpus.document(d % classes, classes));
        made.heldOutBytes += made.heldOut.back().size();
        FeatureCounts counts;
        extractor->extract(made.heldOut.back(), counts);
        std::vector<std::string> features;
        for (const auto& [feature, m] : counts) features.emplace_back(feature);
        made.heldOutFeatures.push_back(std::move(features));
    }
    return made;
}

std::size_t recordCount(const ClassifierImpl& classifier) {
    std::size_t records = 0;
    const auto& set = classifier.featureSet();
    for (std::size_t k = 0; k < set.laneCount(); ++k) {
        for (auto it = set.lane(k).begin(); it != set.lane(k).end(); ++it) ++records;
    }
    return records;
}

void addRecordCount(benchmark::State& state, const Fixture& data) {
    state.counters["records"] = static_cast<double>(recordCount(*data.classifier));
}

// Trains the held-out texts into a copy of the trained classifier, then compacts it once.
void train(benchmark::State& state) {
    const Fixture& data = fixture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = data.classifier->clone();
        state.ResumeTiming();
        for (std::size_t d = 0; d < data.heldOut.size(); ++d) {
            copy->train("class" + std::to_string(d % state.range(0)), data.heldOut[d]);
        }
        state.PauseTiming();
        copy.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * data.heldOut.size());
    state.SetBytesProcessed(state.iterations() * data.heldOutBytes);
}

void classify(benchmark::State& state) {
    const Fixture& data = fixture(static_cast<std::size_t>(state.range(0)));
    std::size_t next = 0;
    for (auto _ : state) {
        Classification result;
        data.classifier->classify(data.heldOut[next], result);
        benchmark::DoNotOptimize(result.getTextCoverage());
        next = (next + 1) % data.heldOut.size();
    }
    state.SetItemsProcessed(state.iterations());
    addRecordCount(state, data);
}

// The same texts' lookups alone: features already extracted, one accessor, no scoring.
void lookupsOfAText(benchmark::State& state) {
    const Fixture& data = fixture(static_cast<std::size_t>(state.range(0)));
    const auto& set = data.classifier->featureSet();
    ParameterAccessor accessor(set.classCount());
    std::size_t next = 0;
    for (auto _ : state) {
        for (const std::string& feature : data.heldOutFeatures[next]) {
            set.lane(feature.size()).getParameters(feature, accessor);
            benchmark::DoNotOptimize(accessor.total());
        }
        next = (next + 1) % data.heldOut.size();
    }
    state.SetItemsProcessed(state.iterations());
}

// A 2-class classifier trained with documents until it holds at least `records` records, and
// short texts (about 200 bytes) that were never trained.
struct GrownFixture {
    std::unique_ptr<ClassifierImpl> classifier;
    std::vector<std::string> shortTexts;
    std::size_t records = 0;
};

const GrownFixture& grownFixture(std::size_t records) {
    static std::map<std::size_t, GrownFixture> built;
    if (auto found = built.find(records); found != built.end()) return found->second;
    GrownFixture& made = built[records];
    Corpus corpus;
    made.classifier = std::make_unique<ClassifierImpl>(nullptr, 0.05);
    made.classifier->addClass("class0");
    made.classifier->addClass("class1");
    for (std::size_t d = 0; made.records < records; ++d) {
        made.classifier->train("class" + std::to_string(d % 2), corpus.document(d % 2, 2));
        if (d % 20 == 0 || made.records + 20000 > records) {
            made.classifier->compact();
            made.records = recordCount(*made.classifier);
        }
    }
    made.classifier->compact();
    made.records = recordCount(*made.classifier);
    for (std::size_t d = 0; d < 64; ++d) {
        std::string text = corpus.document(d % 2, 2);
        text.resize(text.find(' ', 200));
        made.shortTexts.push_back(std::move(text));
    }
    return made;
}

// One short text trained and the classifier compacted; untraining it again (untimed) keeps the
// classifier's size.
void trainOneText(benchmark::State& state) {
    const GrownFixture& data = grownFixture(static_cast<std::size_t>(state.range(0)));
    ClassifierImpl& classifier = *data.classifier;
    std::size_t next = 0;
    for (auto _ : state) {
        const std::string className = "class" + std::to_string(next % 2);
        classifier.train(className, data.shortTexts[next]);
        classifier.compact();
        state.PauseTiming();
        classifier.untrain(className, data.shortTexts[next]);
        classifier.compact();
        next = (next + 1) % data.shortTexts.size();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["records"] = static_cast<double>(data.records);
}

BENCHMARK(train)->Arg(2)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(classify)->Arg(2)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(lookupsOfAText)->Arg(2)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(trainOneText)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
