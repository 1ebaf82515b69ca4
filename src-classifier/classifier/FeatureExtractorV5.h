#pragma once

#include "classifier/FeatureExtractor.h"

namespace norvale::classifier {

// Version 5: as version 4, with '.', '!', '(', ')' and '/' also separating tokens. The version
// every new classifier uses.
class FeatureExtractorV5 : public FeatureExtractor {
public:
    void extract(std::string_view text, FeatureCounts& counts) const override;
    std::uint32_t maxTokenSize() const override { return _maxTokenSize; }

private:
    std::uint32_t _maxTokenSize = 30;
};

}  // namespace norvale::classifier
