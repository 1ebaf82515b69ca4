#include "classifier/storage/VectorLaneFactory.h"

#include <array>
#include <utility>

#include "classifier/storage/VectorLane.h"

namespace norvale::classifier::storage {

namespace {

using CreateLane = std::unique_ptr<LaneBase> (*)();
using CopyLane = std::unique_ptr<LaneBase> (*)(const LaneBase&);

template <std::size_t N>
std::unique_ptr<LaneBase> createLane() {
    return std::make_unique<VectorLane<N>>();
}

template <std::size_t N>
std::unique_ptr<LaneBase> copyLane(const LaneBase& other) {
    return std::make_unique<VectorLane<N>>(dynamic_cast<const VectorLane<N>&>(other));
}

template <std::size_t... N>
constexpr std::array<CreateLane, sizeof...(N)> createTable(std::index_sequence<N...>) {
    return {&createLane<N>...};
}

template <std::size_t... N>
constexpr std::array<CopyLane, sizeof...(N)> copyTable(std::index_sequence<N...>) {
    return {&copyLane<N>...};
}

constexpr auto creators = createTable(std::make_index_sequence<VectorLaneFactory::LaneCount>());
constexpr auto copiers = copyTable(std::make_index_sequence<VectorLaneFactory::LaneCount>());

}  // namespace

std::unique_ptr<LaneBase> VectorLaneFactory::copy(std::size_t featureSize,
                                                  const LaneBase& other) const {
    return featureSize < LaneCount ? copiers[featureSize](other) : nullptr;
}

std::unique_ptr<LaneBase> VectorLaneFactory::create(std::size_t featureSize) const {
    return featureSize < LaneCount ? creators[featureSize]() : nullptr;
}

}  // namespace norvale::classifier::storage
