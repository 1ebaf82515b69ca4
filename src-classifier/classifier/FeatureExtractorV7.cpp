#include "classifier/FeatureExtractorV7.h"

#include <string>

#include "classifier/TokenScan.h"

namespace norvale::classifier {

namespace {

constexpr std::size_t GramSize = 4;

bool isRetained(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value >= 0x80 || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
           byte == '\'';
}

std::string normalise(std::string_view text) {
    std::string normalised;
    normalised.reserve(text.size());
    bool afterSpace = false;
    for (const char byte : text) {
        if (isRetained(byte)) {
            normalised.push_back(tokenscan::lowerAscii(byte));
            afterSpace = false;
        } else if (!afterSpace) {
            normalised.push_back(' ');
            afterSpace = true;
        }
    }
    return normalised;
}

}  // namespace

void FeatureExtractorV7::extract(std::string_view text, FeatureCounts& counts) const {
    const std::string normalised = normalise(text);
    const std::string_view grams(normalised);
    // The window ending at the last byte is deliberately not produced: stored classifiers of
    // this version were trained without it.
    for (std::size_t end = GramSize; end < grams.size(); ++end) {
        countFeature(counts, grams.substr(end - GramSize, GramSize));
    }
}

}  // namespace norvale::classifier
