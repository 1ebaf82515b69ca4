#include "classifier/FeatureExtractor.h"

#include <string>

#include "classifier/ClassifierException.h"
#include "classifier/FeatureExtractorV3.h"
#include "classifier/FeatureExtractorV4.h"
#include "classifier/FeatureExtractorV5.h"
#include "classifier/FeatureExtractorV6.h"
#include "classifier/FeatureExtractorV7.h"

namespace norvale::classifier {

void countFeature(FeatureCounts& counts, std::string_view feature) {
    if (const auto found = counts.find(feature); found != counts.end()) {
        ++found->second;
    } else {
        counts.emplace(feature, 1);
    }
}

std::unique_ptr<FeatureExtractor> createFeatureExtractor(std::uint32_t version) {
    switch (version) {
        case 3:
            return std::make_unique<FeatureExtractorV3>();
        case 4:
            return std::make_unique<FeatureExtractorV4>();
        case 5:
            return std::make_unique<FeatureExtractorV5>();
        case 6:
            return std::make_unique<FeatureExtractorV6>();
        case 7:
            return std::make_unique<FeatureExtractorV7>();
        default:
            throw ClassifierException("Unrecognized data version for feature extractor " +
                                      std::to_string(version));
    }
}

}  // namespace norvale::classifier
