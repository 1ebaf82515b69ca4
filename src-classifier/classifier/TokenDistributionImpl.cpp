#include "classifier/TokenDistributionImpl.h"

#include <algorithm>
#include <cstdint>

#include "util/database/DatabaseReader.h"

namespace norvale::classifier {

void TokenDistributionImpl::deserialize(util::database::DatabaseReader& reader) {
    for (MemoryLane& lane : _lanes) lane.clear();
    if (reader.atEnd()) return;

    std::uint32_t laneCount = 0;
    reader.getNextPrimitive(laneCount);
    _lanes.clear();
    _lanes.reserve(std::min<std::size_t>(laneCount, MaxLanes));
    for (std::uint32_t i = 0; i < laneCount; ++i) {
        std::uint32_t byteLength = 0;
        reader.getNextPrimitive(byteLength);
        if (i < MaxLanes) {
            _lanes.emplace_back(i).deserialize(reader, byteLength);
        } else {
            reader.skipCharStream(byteLength);
        }
    }
}

void TokenDistributionImpl::forEachToken(const TokenVisitor& visit) const {
    for (const MemoryLane& lane : _lanes) {
        for (std::size_t record = 0; record < lane.recordCount(); ++record) {
            visit(lane.token(record), lane.count(record));
        }
    }
}

}  // namespace norvale::classifier
