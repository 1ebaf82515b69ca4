#pragma once

// Creates and copies lanes by feature length. A returned lane belongs to the caller. Stateless
// implementations may be used from any thread.

#include <cstddef>
#include <memory>

#include "classifier/storage/LaneBase.h"

namespace norvale::classifier::storage {

class LaneFactory {
public:
    virtual ~LaneFactory() = default;

    // A deep copy of other, including what it has not compacted yet; null when featureSize
    // has no lane.
    virtual std::unique_ptr<LaneBase> copy(std::size_t featureSize,
                                           const LaneBase& other) const = 0;
    // A new empty lane; null when featureSize has no lane.
    virtual std::unique_ptr<LaneBase> create(std::size_t featureSize) const = 0;
};

}  // namespace norvale::classifier::storage
