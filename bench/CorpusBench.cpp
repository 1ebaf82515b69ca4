// Accuracy and speed of ClassifierImpl on the real-text corpus (bench/corpus/make_corpus.py):
// for each task folder (language, topic) a new classifier (extractor version 5, smoothing 0.05)
// is trained with the train split; the test split is then classified one text at a time, the
// class of the largest probability taken as the answer. Next to it, in the same run, the two
// parts of a classification alone: feature extraction, and the lane lookups of the extracted
// features, the latter also through a hash index over the lanes' features; and the whole test
// split classified once right after a change (classifyFirstPass), when the logarithms of the
// class shares are not stored yet. At start-up it prints, per task, a digest of every result and
// the memory the classifier's records, lookup index and stored logarithms may take.
//
//   CorpusBench --corpus=FOLDER [Google Benchmark flags]
//
// bench/corpus/run.sh builds the corpus, runs this program and scikit-learn's models on the same
// splits, and prints both in one table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "classifier/ClassifierImpl.h"
#include "classifier/FeatureExtractor.h"
#include "corpus/CorpusClassifier.h"
#include "corpus/CorpusFile.h"

namespace {

using bench::corpus::LabelledText;
using norvale::classifier::Classification;
using norvale::classifier::ClassifierImpl;
using norvale::classifier::FeatureCounts;
using norvale::classifier::storage::ParameterAccessor;

const char* const Tasks[] = {"language", "topic"};

struct Task {
    std::vector<LabelledText> train;
    std::vector<LabelledText> test;
    std::vector<std::string> labels;
    std::unique_ptr<ClassifierImpl> classifier;
    std::vector<std::vector<std::string>> featuresOfTests;  // distinct features of each test text
    double accuracy = 0.0;
    std::uint64_t digest = 0;  // of every probability and coverage of the test split, bit for bit
    std::size_t testFeatures = 0;  // sum over the test texts of their distinct features
};

std::unique_ptr<ClassifierImpl> trainClassifier(const Task& task) {
    return bench::corpus::trainCorpusClassifier(task.labels, task.train);
}

// FNV-1a over the bytes of a double.
void digestDouble(std::uint64_t& digest, double value) {
    unsigned char bytes[sizeof(value)];
    std::memcpy(bytes, &value, sizeof(value));
    for (const unsigned char byte : bytes) digest = (digest ^ byte) * 0x100000001b3ULL;
}

// Classifies the test split once: the accuracy, and a digest of every result that changes when
// any probability or coverage changes in any bit, so engine changes can be checked against it.
void classifyTestSplit(Task& task) {
    std::size_t right = 0;
    task.digest = 0xcbf29ce484222325ULL;
    for (const LabelledText& text : task.test) {
        Classification result;
        task.classifier->classify(text.text, result);
        if (bench::corpus::bestClass(result) == text.label) ++right;
        digestDouble(task.digest, result.getTextCoverage());
        for (const auto& [label, probability] : result.getProbabilities()) {
            digestDouble(task.digest, probability);
        }
    }
    task.accuracy = 100.0 * static_cast<double>(right) / static_cast<double>(task.test.size());
}

std::unique_ptr<Task> loadTask(const std::filesystem::path& folder) {
    auto task = std::make_unique<Task>();
    task->train = bench::corpus::readCorpusFile((folder / "train.tsv").string());
    task->test = bench::corpus::readCorpusFile((folder / "test.tsv").string());
    task->labels = bench::corpus::corpusLabels(task->train);
    task->classifier = trainClassifier(*task);
    classifyTestSplit(*task);
    std::fprintf(stderr, "%s: results digest %016llx\n", folder.filename().c_str(),
                 static_cast<unsigned long long>(task->digest));
    const auto& set = task->classifier->featureSet();
    std::size_t lookupBytes = 0;
    for (std::size_t k = 0; k < set.laneCount(); ++k) lookupBytes += set.lane(k).lookupBytes();
    std::fprintf(stderr,
                 "%s: stored %zu bytes; lookup index %zu bytes; stored logarithms at most %zu "
                 "bytes\n",
                 folder.filename().c_str(), task->classifier->getTrainingData().size(), lookupBytes,
                 task->classifier->scoreTableBytes());
    const auto extractor = norvale::classifier::createFeatureExtractor(5);
    for (const LabelledText& text : task->test) {
        FeatureCounts counts;
        extractor->extract(text.text, counts);
        std::vector<std::string> features;
        for (const auto& [feature, m] : counts) features.emplace_back(feature);
        task->testFeatures += features.size();
        task->featuresOfTests.push_back(std::move(features));
    }
    return task;
}

void addTaskCounters(benchmark::State& state, const Task& task) {
    state.counters["classes"] = static_cast<double>(task.labels.size());
    state.counters["train_texts"] = static_cast<double>(task.train.size());
    state.counters["test_texts"] = static_cast<double>(task.test.size());
    state.counters["accuracy"] = task.accuracy;
    // Lets the comparison check that its tokenisation finds the same features.
    state.counters["test_features"] = static_cast<double>(task.testFeatures);
}

// Trains the whole train split into a new classifier.
void train(benchmark::State& state, const Task* task) {
    std::size_t bytes = 0;
    for (const LabelledText& text : task->train) bytes += text.text.size();
    for (auto _ : state) {
        auto classifier = trainClassifier(*task);
        benchmark::DoNotOptimize(classifier.get());
        state.PauseTiming();
        classifier.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(task->train.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
    addTaskCounters(state, *task);
}

// One held-out text per iteration, in turn, each into a new Classification.
void classify(benchmark::State& state, const Task* task) {
    std::size_t next = 0;
    for (auto _ : state) {
        Classification result;
        task->classifier->classify(task->test[next].text, result);
        benchmark::DoNotOptimize(result.getTextCoverage());
        next = next + 1 == task->test.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(state.iterations());
    addTaskCounters(state, *task);
}

// The whole test split on a copy made just before, so every feature's logarithms are computed
// at their first use: what the first requests after a commit pay.
void classifyFirstPass(benchmark::State& state, const Task* task) {
    for (auto _ : state) {
        state.PauseTiming();
        auto fresh = task->classifier->clone();
        state.ResumeTiming();
        for (const LabelledText& text : task->test) {
            Classification result;
            fresh->classify(text.text, result);
            benchmark::DoNotOptimize(result.getTextCoverage());
        }
        state.PauseTiming();
        fresh.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(task->test.size()));
}

// Feature extraction of the same texts alone, into an arena on the stack as classify does.
void extract(benchmark::State& state, const Task* task) {
    const auto extractor = norvale::classifier::createFeatureExtractor(5);
    std::size_t next = 0;
    for (auto _ : state) {
        alignas(std::max_align_t) std::byte scratch[8192];
        std::pmr::monotonic_buffer_resource arena(scratch, sizeof(scratch));
        FeatureCounts counts(&arena);
        extractor->extract(task->test[next].text, counts);
        benchmark::DoNotOptimize(counts.size());
        next = next + 1 == task->test.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

// The records of one feature inside its lane: where the first is and how many follow.
struct FeatureRecords {
    const unsigned char* first;
    std::size_t count;
    std::size_t recordSize;
};
using FeatureIndex = std::unordered_map<std::string_view, FeatureRecords>;

// A hash index over every feature of the compacted lanes, for hashedLookups.
FeatureIndex indexFeatures(const Task& task) {
    FeatureIndex index;
    const auto& set = task.classifier->featureSet();
    for (std::size_t k = 0; k < set.laneCount(); ++k) {
        for (auto it = set.lane(k).begin(); it != set.lane(k).end(); ++it) {
            auto [entry, added] =
                index.try_emplace(it.feature(), FeatureRecords{it.record(), 0, it.recordSize()});
            ++entry->second.count;
        }
    }
    return index;
}

// The lane lookups of the same texts alone: one getParameters per distinct feature.
void lookups(benchmark::State& state, const Task* task) {
    const auto& set = task->classifier->featureSet();
    ParameterAccessor accessor(set.classCount());
    std::size_t next = 0;
    for (auto _ : state) {
        for (const std::string& feature : task->featuresOfTests[next]) {
            set.lane(feature.size()).getParameters(feature, accessor);
            benchmark::DoNotOptimize(accessor.total());
        }
        next = next + 1 == task->test.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

// The same lookups through a hash index built once over the compacted lanes: what the lookups
// would cost if a lane found a feature's records by hashing instead of by binary search.
void hashedLookups(benchmark::State& state, const Task* task) {
    const FeatureIndex index = indexFeatures(*task);
    std::vector<std::uint32_t> counts(task->labels.size());
    std::size_t next = 0;
    for (auto _ : state) {
        for (const std::string& feature : task->featuresOfTests[next]) {
            std::fill(counts.begin(), counts.end(), 0u);
            const auto found = index.find(feature);
            if (found == index.end()) continue;
            const FeatureRecords& records = found->second;
            for (std::size_t r = 0; r < records.count; ++r) {
                const norvale::classifier::storage::LaneIterator record(
                    records.first + r * records.recordSize, records.recordSize, feature.size());
                counts[record.classIndex()] = record.count();
            }
            benchmark::DoNotOptimize(counts.data());
        }
        next = next + 1 == task->test.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

// Takes --corpus=FOLDER out of the arguments; empty when absent.
std::string takeCorpusFolder(int& argc, char** argv) {
    const char* const flag = "--corpus=";
    std::string folder;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) {
            folder = argv[i] + std::strlen(flag);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string corpus = takeCorpusFolder(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (corpus.empty()) {
        std::fprintf(stderr,
                     "Usage: CorpusBench --corpus=FOLDER [benchmark flags]\n"
                     "FOLDER comes from bench/corpus/make_corpus.py --out FOLDER.\n");
        return 2;
    }
    std::map<std::string, std::unique_ptr<Task>> tasks;
    try {
        for (const char* name : Tasks) {
            const std::filesystem::path folder = std::filesystem::path(corpus) / name;
            if (std::filesystem::exists(folder / "train.tsv")) tasks[name] = loadTask(folder);
        }
    } catch (const bench::corpus::CorpusFileException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (tasks.empty()) {
        std::fprintf(stderr, "No task folder with train.tsv below %s\n", corpus.c_str());
        return 1;
    }
    for (const auto& [name, task] : tasks) {
        const Task* data = task.get();
        benchmark::RegisterBenchmark(("train/" + name).c_str(), train, data)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark(("classify/" + name).c_str(), classify, data)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("classifyFirstPass/" + name).c_str(), classifyFirstPass, data)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("extract/" + name).c_str(), extract, data)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("lookups/" + name).c_str(), lookups, data)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("hashedLookups/" + name).c_str(), hashedLookups, data)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
