// Extraction throughput of every feature-extractor version over the same generated text, cut
// into 4 KB documents that each start a fresh FeatureCounts, as a classification request does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "classifier/FeatureExtractor.h"

namespace {

using norvale::classifier::createFeatureExtractor;
using norvale::classifier::FeatureCounts;

constexpr std::size_t TextSize = 4 << 20;
constexpr std::size_t DocumentSize = 4 << 10;

// A small fixed generator, so every run and every machine sees the same text.
class Generator {
public:
    std::uint32_t next(std::uint32_t bound) {
        _state = _state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(_state >> 33) % bound;
    }

private:
    std::uint64_t _state = 42;
};

// Word lengths roughly as in English prose (mean near 5), a vocabulary of 20,000 words picked
// with a skew towards the frequent ones, capitals at sentence starts, punctuation and line
// breaks.
std::string makeText() {
    Generator random;
    static constexpr int lengthWeights[] = {3, 17, 18, 16, 12, 9, 8, 6, 5, 3, 2, 1, 1};
    std::vector<std::string> vocabulary;
    for (int i = 0; i < 20000; ++i) {
        std::uint32_t pick = random.next(101);
        std::size_t length = 1;
        for (int weight : lengthWeights) {
            if (pick < static_cast<std::uint32_t>(weight)) break;
            pick -= weight;
            ++length;
        }
        std::string word;
        for (std::size_t j = 0; j < length; ++j) word.push_back('a' + random.next(26));
        vocabulary.push_back(word);
    }
    std::string text;
    text.reserve(TextSize + 64);
    bool sentenceStart = true;
    while (text.size() < TextSize) {
        const std::uint32_t rank = random.next(random.next(20000) + 1);
        std::string word = vocabulary[rank];
        if (sentenceStart) word[0] = static_cast<char>(word[0] - 'a' + 'A');
        text += word;
        const std::uint32_t mark = random.next(100);
        sentenceStart = mark < 6;
        text += mark < 6 ? ". " : mark < 10 ? ", " : mark < 11 ? "\n" : " ";
    }
    text.resize(TextSize);
    return text;
}

const std::string& text() {
    static const std::string generated = makeText();
    return generated;
}

void extractText(benchmark::State& state) {
    const auto extractor = createFeatureExtractor(static_cast<std::uint32_t>(state.range(0)));
    const std::string_view all = text();
    FeatureCounts counts;
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < all.size(); offset += DocumentSize) {
            counts.clear();
            extractor->extract(all.substr(offset, DocumentSize), counts);
            benchmark::DoNotOptimize(counts.size());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * all.size()));
}

BENCHMARK(extractText)->DenseRange(3, 7)->ArgName("version")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
