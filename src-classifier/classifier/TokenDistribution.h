#pragma once

// The per-class token counts of classifier data of formats 3 and 4: the class's tokens grouped
// into lanes by length, each token with its count. Nothing builds or trains a distribution any
// more; one is read per class while old data is converted to the current format, and its
// (token, count) pairs are handed to a FeatureSet. Not synchronised.

#include <cstdint>
#include <functional>
#include <string_view>

namespace util::database {
class DatabaseReader;
}  // namespace util::database

namespace norvale::classifier {

class TokenDistribution {
public:
    using TokenVisitor = std::function<void(std::string_view token, std::uint32_t count)>;

    virtual ~TokenDistribution() = default;

    // Replaces the content with a block read at the reader's cursor. A cursor already at the end
    // of the data gives an empty distribution and reads nothing. Throws the reader's
    // DatabaseReaderException when the block is cut short.
    virtual void deserialize(util::database::DatabaseReader& reader) = 0;
    // Calls visit for every stored record, lanes in index order and records in stored order,
    // records with count 0 included.
    virtual void forEachToken(const TokenVisitor& visit) const = 0;
};

}  // namespace norvale::classifier
