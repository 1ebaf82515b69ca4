#include "classifier/FeatureExtractorV3.h"

#include "classifier/TokenScan.h"

namespace norvale::classifier {

namespace {
constexpr tokenscan::SeparatorSet separators = tokenscan::makeSeparators(" ");
}

void FeatureExtractorV3::extract(std::string_view text, FeatureCounts& counts) const {
    tokenscan::scanTokens(text, separators, _maxTokenSize,
                          [&counts](std::string_view token) { countFeature(counts, token); });
}

}  // namespace norvale::classifier
