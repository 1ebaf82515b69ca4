#pragma once

#include "classifier/FeatureExtractor.h"

namespace norvale::classifier {

// Version 6: lower-cased tokens with the separators of version 5; each token is a feature, with
// no pairs and no prefixes.
class FeatureExtractorV6 : public FeatureExtractor {
public:
    void extract(std::string_view text, FeatureCounts& counts) const override;
    std::uint32_t maxTokenSize() const override { return _maxTokenSize; }

private:
    std::uint32_t _maxTokenSize = 30;
};

}  // namespace norvale::classifier
