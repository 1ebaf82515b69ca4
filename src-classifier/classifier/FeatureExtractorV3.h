#pragma once

#include "classifier/FeatureExtractor.h"

namespace norvale::classifier {

// Version 3: tokens separated by spaces only, case kept. Each token (cut to 30 bytes) is a feature.
class FeatureExtractorV3 : public FeatureExtractor {
public:
    void extract(std::string_view text, FeatureCounts& counts) const override;
    std::uint32_t maxTokenSize() const override { return _maxTokenSize; }

private:
    std::uint32_t _maxTokenSize = 30;
};

}  // namespace norvale::classifier
