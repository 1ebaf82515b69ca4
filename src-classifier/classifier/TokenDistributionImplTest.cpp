#include "classifier/TokenDistributionImpl.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "util/database/DatabaseReader.h"

namespace norvale::classifier {
namespace {

using namespace blobtest;
using namespace std::string_literals;
using util::database::DatabaseReader;
using util::database::DatabaseReaderException;
using Pair = std::pair<std::string, std::uint32_t>;

std::vector<Pair> pairs(const TokenDistribution& distribution) {
    std::vector<Pair> result;
    distribution.forEachToken([&result](std::string_view token, std::uint32_t count) {
        result.emplace_back(std::string(token), count);
    });
    return result;
}

std::string readFailure(TokenDistribution& distribution, const std::string& data) {
    DatabaseReader reader(data);
    try {
        distribution.deserialize(reader);
    } catch (const DatabaseReaderException& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

TEST(TokenDistributionImplTest, EnumeratesLanesInIndexOrderAndRecordsAsStored) {
    const std::string block =
        distributionBlock({tokenRecord("", 7),
                           tokenRecord("z", 1) + tokenRecord("a", 0) + tokenRecord("b", 4),
                           "",
                           tokenRecord("abc", 0xFFFFFFFF)});
    TokenDistributionImpl distribution;
    DatabaseReader reader(block + "rest");
    distribution.deserialize(reader);
    EXPECT_EQ(block.size(), reader.position());

    EXPECT_EQ(std::vector<Pair>({{"", 7}, {"z", 1}, {"a", 0}, {"b", 4}, {"abc", 0xFFFFFFFF}}),
              pairs(distribution));
    const std::vector<MemoryLane>& lanes = distribution.lanes();
    ASSERT_EQ(4u, lanes.size());
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(i, lanes[i].tokenSize());
        EXPECT_EQ(i + 4, lanes[i].chunkSize());
    }
    EXPECT_EQ(7u, lanes[0].total());
    EXPECT_EQ(5u, lanes[1].total());
    EXPECT_EQ(0u, lanes[2].recordCount());
    EXPECT_EQ(0u, lanes[2].total());
    EXPECT_EQ(0xFFFFFFFFu, lanes[3].total());
}

TEST(TokenDistributionImplTest, ZeroLanesConsumeFourBytesAndTheEndReadsNothing) {
    TokenDistributionImpl distribution;
    DatabaseReader reader(u32(0) + distributionBlock({tokenRecord("", 1)}));
    distribution.deserialize(reader);
    EXPECT_EQ(4u, reader.position());
    EXPECT_TRUE(pairs(distribution).empty());

    distribution.deserialize(reader);
    EXPECT_EQ(std::vector<Pair>({{"", 1}}), pairs(distribution));
    EXPECT_TRUE(reader.atEnd());

    // At the very end nothing is read and what the distribution held is gone.
    distribution.deserialize(reader);
    EXPECT_TRUE(pairs(distribution).empty());
    EXPECT_TRUE(reader.atEnd());
}

// A huge lane count or lane length fails at the first item the data lacks, having allocated
// nothing for what it promised.
TEST(TokenDistributionImplTest, HugeSizesFailWithoutAllocatingForThem) {
    TokenDistributionImpl distribution;
    EXPECT_EQ(DatabaseReader::PrimitiveCorrupt,
              readFailure(distribution, u32(0xFFFFFFFF) + u32(0) + u32(0)));
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
              readFailure(distribution, u32(1) + u32(0xFFFFFFFF) + "abcd"));
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
              readFailure(distribution, u32(40) + std::string(33 * 4, '\0') + u32(9) + "abcd"));
}

// Whole records only, and lanes past the longest feature are passed over.
TEST(TokenDistributionImplTest, MalformedLanesYieldOnlyWholeRecordsOfUsableLanes) {
    std::vector<std::string> lanes(34);
    lanes[1] = tokenRecord("a", 3) + "xyz";  // three bytes short of a second record
    lanes[2] = "pq";                         // shorter than one record
    lanes[31] = tokenRecord(std::string(31, 'L'), 6);
    lanes[32] = tokenRecord(std::string(32, 'T'), 9);
    lanes[33] = "not a record at all";
    const std::string block = distributionBlock(lanes);

    TokenDistributionImpl distribution;
    DatabaseReader reader(block + distributionBlock({tokenRecord("", 2)}));
    distribution.deserialize(reader);
    EXPECT_EQ(block.size(), reader.position());
    EXPECT_EQ(std::vector<Pair>({{"a", 3}, {std::string(31, 'L'), 6}}), pairs(distribution));
    EXPECT_EQ(32u, distribution.lanes().size());
    EXPECT_EQ(1u, distribution.lanes()[1].recordCount());
    EXPECT_EQ(3u, distribution.lanes()[1].total());
    EXPECT_EQ(0u, distribution.lanes()[2].recordCount());

    // The next block starts right after the skipped lanes.
    distribution.deserialize(reader);
    EXPECT_EQ(std::vector<Pair>({{"", 2}}), pairs(distribution));
}

}  // namespace
}  // namespace norvale::classifier
