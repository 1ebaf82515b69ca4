#pragma once

// Turns classifier data of format 3 or 4, written by the former model that kept one
// TokenDistribution per class, into a blob of the current format 5: the old format version
// becomes the feature-extractor version (so the classifier keeps tokenising as it was trained),
// the smoothing is 0.05, and every (token, count) pair with a count other than 0 becomes a
// feature count of its class. Bytes after the last class are ignored. Stateless; any thread.

#include <cstdint>
#include <string_view>

namespace util::database {
class DatabaseWriter;
}  // namespace util::database

namespace norvale::classifier {

class LegacyDataConverter {
public:
    static constexpr std::uint32_t ConvertedVersion = 5;
    static constexpr double ConvertedSmoothing = 0.05;

    // oldData starts with its format version, 3 or 4 (the caller has checked it). Appends the
    // format 5 blob to out. Throws, before anything is appended: the reader's
    // DatabaseReaderException for data cut short, ClassifierException for a class count above
    // storage::FeatureSet::MaxClasses, an empty or a repeated class name.
    void convert(std::string_view oldData, util::database::DatabaseWriter& out) const;
};

}  // namespace norvale::classifier
