#pragma once

#include "classifier/storage/LaneFactory.h"

namespace norvale::classifier::storage {

// Makes VectorLane<N> for N = 0..31 and nothing for longer features. copy throws std::bad_cast
// when other is not a VectorLane of the requested length.
class VectorLaneFactory : public LaneFactory {
public:
    static constexpr std::size_t LaneCount = 32;

    std::unique_ptr<LaneBase> copy(std::size_t featureSize, const LaneBase& other) const override;
    std::unique_ptr<LaneBase> create(std::size_t featureSize) const override;
};

}  // namespace norvale::classifier::storage
