#include "classifier/KeywordExtractor.h"

#include <algorithm>
#include <string>

#include "classifier/TokenScan.h"
#include "debug/assertion.h"

namespace norvale::classifier {

namespace {

constexpr tokenscan::SeparatorSet separators = tokenscan::makeSeparators(KeywordSeparators);

bool isForbidden(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value < 0x20 || byte == '<' || byte == '>' || byte == '&' || byte == '\'';
}

}  // namespace

KeywordExtractor::KeywordExtractor(std::uint32_t maxTokenSize, bool lowerCase)
    : _maxTokenSize(maxTokenSize), _lowerCase(lowerCase) {
    QM_ASSERT(_maxTokenSize > 0, "Setting the maxTokenSize to 0 makes no sense.");
}

void KeywordExtractor::extract(std::string_view text, FeatureCounts& counts) const {
    std::string folded;
    if (_lowerCase) {
        folded = tokenscan::lowerCaseAscii(text);
        text = folded;
    }
    std::size_t position = 0;
    while (position < text.size()) {
        while (position < text.size() && tokenscan::isSeparator(separators, text[position])) {
            ++position;
        }
        const std::size_t start = position;
        bool forbidden = false;
        while (position < text.size() && !tokenscan::isSeparator(separators, text[position])) {
            forbidden = forbidden || isForbidden(text[position]);
            ++position;
        }
        if (position == start || forbidden) continue;
        countFeature(counts,
                     text.substr(start, std::min<std::size_t>(position - start, _maxTokenSize)));
    }
}

}  // namespace norvale::classifier
