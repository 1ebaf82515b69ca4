#pragma once

// Cuts a text into features: short byte strings whose occurrence counts are what a classifier
// stores. Each extractor version is a fixed rule, because a classifier must meet the features it
// was trained with byte for byte. Texts are byte strings and are never decoded. Extractors hold
// no mutable state; one instance may be used by several threads at once.

#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>

namespace norvale::classifier {

// Lets FeatureCounts be searched with a string_view, so counting a feature already present
// allocates nothing.
struct FeatureHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view feature) const {
        return std::hash<std::string_view>{}(feature);
    }
};

// Features of one text and how often each occurs. Iteration order carries no meaning, but it is
// the order in which a classification adds up its scores, so it follows from the features alone:
// the memory resource (the heap by default, a per-call arena when classifying) changes where
// nodes live, not their order.
using FeatureCounts =
    std::pmr::unordered_map<std::pmr::string, std::uint32_t, FeatureHash, std::equal_to<>>;

// Adds one occurrence of feature to counts.
void countFeature(FeatureCounts& counts, std::string_view feature);

class FeatureExtractor {
public:
    virtual ~FeatureExtractor() = default;

    // Adds the features of text to counts, which is not cleared first. Never fails.
    virtual void extract(std::string_view text, FeatureCounts& counts) const = 0;
    // The length to which tokens are cut.
    virtual std::uint32_t maxTokenSize() const = 0;
};

// The extractor of a stored extractor version (3 to 7); other versions throw
// ClassifierException.
std::unique_ptr<FeatureExtractor> createFeatureExtractor(std::uint32_t version);

}  // namespace norvale::classifier
