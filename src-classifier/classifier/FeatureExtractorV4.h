#pragma once

#include "classifier/FeatureExtractor.h"

namespace norvale::classifier {

// Version 4: lower-cased tokens separated by space, CR, LF and TAB. Each token adds itself, its
// pair with the previous token when that is 1 to 6 bytes long, and its first 6 bytes when longer.
class FeatureExtractorV4 : public FeatureExtractor {
public:
    void extract(std::string_view text, FeatureCounts& counts) const override;
    std::uint32_t maxTokenSize() const override { return _maxTokenSize; }

private:
    std::uint32_t _maxTokenSize = 30;
};

}  // namespace norvale::classifier
