#include "classifier/FeatureExtractorV6.h"

#include <string>

#include "classifier/TokenScan.h"

namespace norvale::classifier {

namespace {
constexpr tokenscan::SeparatorSet separators = tokenscan::makeSeparators(" .!\n\r\t()/");
}

void FeatureExtractorV6::extract(std::string_view text, FeatureCounts& counts) const {
    const std::string lowered = tokenscan::lowerCaseAscii(text);
    tokenscan::scanTokens(lowered, separators, _maxTokenSize,
                          [&counts](std::string_view token) { countFeature(counts, token); });
}

}  // namespace norvale::classifier
