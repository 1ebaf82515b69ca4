#pragma once

// Building blocks shared by the token-based extractors (versions 3 to 6). Private to the
// classifier engine.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "classifier/FeatureExtractor.h"

namespace norvale::classifier::tokenscan {

// Every extractor cuts tokens to this many bytes.
inline constexpr std::uint32_t MaxTokenSize = 30;

using SeparatorSet = std::array<bool, 256>;

constexpr SeparatorSet makeSeparators(std::string_view separators) {
    SeparatorSet set{};
    for (const char separator : separators) set[static_cast<unsigned char>(separator)] = true;
    return set;
}

inline bool isSeparator(const SeparatorSet& separators, char byte) {
    return separators[static_cast<unsigned char>(byte)];
}

inline char lowerAscii(char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte;
}

// A copy of text with 'A'..'Z' folded; every other byte unchanged.
std::string lowerCaseAscii(std::string_view text);

// Calls onToken for each maximal run of non-separator bytes, cut to maxTokenSize bytes.
template <typename OnToken>
void scanTokens(std::string_view text, const SeparatorSet& separators, std::size_t maxTokenSize,
                OnToken&& onToken) {
    std::size_t position = 0;
    while (position < text.size()) {
        while (position < text.size() && isSeparator(separators, text[position])) ++position;
        const std::size_t start = position;
        while (position < text.size() && !isSeparator(separators, text[position])) ++position;
        if (position > start) onToken(text.substr(start, std::min(position - start, maxTokenSize)));
    }
}

// The rule of versions 4 and 5: lower-case, then for each token add the token, its pair with
// the previous token and its 6-byte prefix.
void extractWithWordPairs(std::string_view text, const SeparatorSet& separators,
                          std::size_t maxTokenSize, FeatureCounts& counts);

}  // namespace norvale::classifier::tokenscan
