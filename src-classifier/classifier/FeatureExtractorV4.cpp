#include "classifier/FeatureExtractorV4.h"

#include "classifier/TokenScan.h"

namespace norvale::classifier {

namespace {
constexpr tokenscan::SeparatorSet separators = tokenscan::makeSeparators(" \r\n\t");
}

void FeatureExtractorV4::extract(std::string_view text, FeatureCounts& counts) const {
    tokenscan::extractWithWordPairs(text, separators, _maxTokenSize, counts);
}

}  // namespace norvale::classifier
