#include "classifier/TokenScan.h"

#include <algorithm>

namespace norvale::classifier::tokenscan {

namespace {

// Pairs join a short previous token to the start of the next one; they are never longer than
// this.
constexpr std::size_t PairLimit = 8;
constexpr std::size_t MinPairSize = 5;
constexpr std::size_t PrefixSize = 6;

void countWordPair(std::string_view previous, std::string_view token, std::size_t maxTokenSize,
                   FeatureCounts& counts) {
    const std::size_t head = previous.size() + 1;
    if (previous.empty() || head >= PairLimit) return;
    const std::size_t tail = std::min(token.size(), PairLimit - head);
    const std::size_t size = head + tail;
    if (size < MinPairSize || size > maxTokenSize) return;
    char pair[PairLimit];
    std::copy(previous.begin(), previous.end(), pair);
    pair[previous.size()] = ' ';
    std::copy_n(token.begin(), tail, pair + head);
    countFeature(counts, std::string_view(pair, size));
}

}  // namespace

std::string lowerCaseAscii(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), &lowerAscii);
    return lowered;
}

void extractWithWordPairs(std::string_view text, const SeparatorSet& separators,
                          std::size_t maxTokenSize, FeatureCounts& counts) {
    // The lower-cased copy comes from the counts' memory resource too.
    std::pmr::string lowered(text, counts.get_allocator());
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), &lowerAscii);
    std::string_view previous;
    scanTokens(lowered, separators, maxTokenSize, [&](std::string_view token) {
        countFeature(counts, token);
        countWordPair(previous, token, maxTokenSize, counts);
        if (token.size() > PrefixSize) countFeature(counts, token.substr(0, PrefixSize));
        previous = token;
    });
}

}  // namespace norvale::classifier::tokenscan
