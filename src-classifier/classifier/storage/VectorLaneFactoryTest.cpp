#include "classifier/storage/VectorLaneFactory.h"

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

#include "classifier/storage/VectorLane.h"

namespace norvale::classifier::storage {
namespace {

TEST(VectorLaneFactoryTest, CreatesOneLanePerLengthUpTo31) {
    const VectorLaneFactory factory;
    for (std::size_t length = 0; length < 32; ++length) {
        const auto lane = factory.create(length);
        ASSERT_NE(nullptr, lane) << length;
        EXPECT_EQ(length, lane->begin().featureSize());
        // The lane accepts features of its own length.
        EXPECT_TRUE(lane->add(std::string(length, 'x'), 0, 1));
    }
    EXPECT_EQ(nullptr, factory.create(32));
    EXPECT_EQ(nullptr, factory.create(1000));
}

TEST(VectorLaneFactoryTest, CopyIsDeepAndKeepsUncompactedState) {
    const VectorLaneFactory factory;
    const auto lane = factory.create(4);
    lane->add("keep", 0, 2);
    lane->add("gone", 0, 1);
    lane->compact();
    std::uint32_t removed = 0;
    lane->sub("gone", 0, 1, removed);
    lane->add("new!", 1, 5);

    const auto copy = factory.copy(4, *lane);
    ASSERT_NE(nullptr, copy);
    const auto& vectorCopy = dynamic_cast<const VectorLane<4>&>(*copy);
    EXPECT_EQ(1, vectorCopy.permaDeletedCount());
    EXPECT_EQ(1u, vectorCopy.pendingCount());
    EXPECT_EQ(1.0f, vectorCopy.pending().max_load_factor());

    lane->compact();
    copy->compact();
    EXPECT_TRUE(copy->equals(*lane));
    EXPECT_EQ(7u, copy->getTotalCount());
}

TEST(VectorLaneFactoryTest, CopyRefusesOtherLengthsAndLengthsWithoutLane) {
    const VectorLaneFactory factory;
    const auto lane = factory.create(4);
    EXPECT_THROW(factory.copy(3, *lane), std::bad_cast);
    EXPECT_EQ(nullptr, factory.copy(32, *lane));
}

}  // namespace
}  // namespace norvale::classifier::storage
