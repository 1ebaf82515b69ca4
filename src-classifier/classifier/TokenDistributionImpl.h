#pragma once

// A TokenDistribution as a vector of MemoryLanes, lane i holding the tokens of i bytes.
//
// Stored block: the lane count L (u32), then per lane its byte length n (u32) and n bytes of
// records. Old data may be damaged in ways the block's own sizes do not reveal, so reading
// follows these rules:
// - every size is checked against the data before anything is allocated for it, and at most
//   MaxLanes lanes are ever created, so a huge L fails at the first missing lane length
//   without having allocated anything for the lanes it promised;
// - a lane whose n is no multiple of its record size keeps all n bytes (the next lane starts
//   after them), but only its whole records are enumerated;
// - lanes of index MaxLanes (32) or more are skipped (their bytes are checked and passed over,
//   nothing is kept): their tokens are longer than any feature a classifier can hold, and no
//   extractor produces such features.
// So reading never leaves the data and never yields a token longer than 31 bytes, and a blob
// whose sizes are consistent loads whatever else it holds.

#include <cstddef>
#include <vector>

#include "classifier/MemoryLane.h"
#include "classifier/TokenDistribution.h"

namespace norvale::classifier {

class TokenDistributionImpl : public TokenDistribution {
public:
    static constexpr std::size_t MaxLanes = 32;

    void deserialize(util::database::DatabaseReader& reader) override;
    void forEachToken(const TokenVisitor& visit) const override;

    // The kept lanes: lane i holds the tokens of i bytes; at most MaxLanes.
    const std::vector<MemoryLane>& lanes() const { return _lanes; }

private:
    std::vector<MemoryLane> _lanes;
};

}  // namespace norvale::classifier
