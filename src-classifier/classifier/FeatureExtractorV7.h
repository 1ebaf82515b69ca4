#pragma once

#include "classifier/FeatureExtractor.h"

namespace norvale::classifier {

// Version 7: character four-grams. Letters (lower-cased), apostrophes and bytes from 0x80 are
// kept; every other run of bytes becomes one space. Of the L normalised bytes, the L - 4 windows
// that start at positions 0 to L - 5 are features; the window ending at the last byte is not.
class FeatureExtractorV7 : public FeatureExtractor {
public:
    void extract(std::string_view text, FeatureCounts& counts) const override;
    std::uint32_t maxTokenSize() const override { return _maxTokenSize; }

private:
    std::uint32_t _maxTokenSize = 30;
};

}  // namespace norvale::classifier
