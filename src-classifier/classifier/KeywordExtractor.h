#pragma once

// Cuts a text into whole words for keyword lookup: no word pairs, prefixes or four-grams. Words
// holding bytes that would need escaping in XML ('<', '>', '&', the apostrophe) or control bytes
// are dropped, so every keyword can be written into a response as it is. Holds no mutable state;
// one instance may be used by several threads at once.

#include <cstdint>
#include <string_view>

#include "classifier/FeatureExtractor.h"

namespace norvale::classifier {

// The bytes that end a word: space, line feed, carriage return, tab, comma, full stop,
// exclamation mark, question mark, colon, semicolon and double quote.
inline constexpr std::string_view KeywordSeparators = " \n\r\t,.!?:;\"";

class KeywordExtractor : public FeatureExtractor {
public:
    // maxTokenSize must be above 0; with lowerCase, ASCII letters are folded before cutting.
    KeywordExtractor(std::uint32_t maxTokenSize, bool lowerCase);

    void extract(std::string_view text, FeatureCounts& counts) const override;
    std::uint32_t maxTokenSize() const override { return _maxTokenSize; }

private:
    std::uint32_t _maxTokenSize;
    bool _lowerCase;
};

}  // namespace norvale::classifier
