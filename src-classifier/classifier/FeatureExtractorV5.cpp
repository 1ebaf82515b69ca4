#include "classifier/FeatureExtractorV5.h"

#include "classifier/TokenScan.h"

namespace norvale::classifier {

namespace {
constexpr tokenscan::SeparatorSet separators = tokenscan::makeSeparators(" .!\n\r\t()/");
}

void FeatureExtractorV5::extract(std::string_view text, FeatureCounts& counts) const {
    tokenscan::extractWithWordPairs(text, separators, _maxTokenSize, counts);
}

}  // namespace norvale::classifier
