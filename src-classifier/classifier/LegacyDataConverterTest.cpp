#include "classifier/LegacyDataConverter.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "classifier/ClassifierException.h"
#include "classifier/storage/FeatureSet.h"
#include "util/database/DatabaseReader.h"
#include "util/database/DatabaseWriter.h"

namespace norvale::classifier {
namespace {

using namespace blobtest;
using storage::ClassRecord;
using storage::FeatureSet;
using storage::LaneIterator;
using util::database::DatabaseReader;
using util::database::DatabaseReaderException;
using util::database::DatabaseWriter;
using Entry = std::tuple<std::string, std::uint16_t, std::uint32_t>;

std::string convert(const std::string& old) {
    std::string out;
    DatabaseWriter writer(&out);
    LegacyDataConverter().convert(old, writer);
    return out;
}

// The header fields and the feature set of a converted blob, which must be read to its end.
struct Converted {
    std::uint32_t _format = 0;
    std::uint32_t _extractor = 0;
    double _smoothing = 0;
    FeatureSet _set;
};

void read(const std::string& blob, Converted& converted) {
    DatabaseReader reader(blob);
    reader.getNextPrimitive(converted._format);
    reader.getNextPrimitive(converted._extractor);
    reader.getNextPrimitive(converted._smoothing);
    converted._set.deserialize(reader);
    EXPECT_TRUE(reader.atEnd());
}

std::vector<Entry> records(const FeatureSet& set, std::size_t lane) {
    std::vector<Entry> result;
    for (LaneIterator it = set.lane(lane).begin(); it != set.lane(lane).end(); ++it) {
        result.emplace_back(std::string(it.feature()), it.classIndex(), it.count());
    }
    return result;
}

// What a failing conversion throws; the output must stay as it was.
std::string failure(const std::string& old) {
    std::string out = "kept";
    DatabaseWriter writer(&out);
    try {
        LegacyDataConverter().convert(old, writer);
    } catch (const DatabaseReaderException& error) {
        EXPECT_EQ("kept", out);
        return std::string("reader: ") + error.what();
    } catch (const ClassifierException& error) {
        EXPECT_EQ("kept", out);
        return std::string("classifier: ") + error.what();
    }
    return "(nothing thrown)";
}

TEST(LegacyDataConverterTest, TwoClassesOfFormat4KeepNonZeroCountsInFeatureOrder) {
    const std::string first = distributionBlock(
        {tokenRecord("", 2),
         tokenRecord("b", 5) + tokenRecord("a", 0) + tokenRecord("c", 1) + tokenRecord("b", 1),
         tokenRecord("zz", 4)});
    const std::string old = legacyBlob(4, 3,
                                       legacyClass("first", first) +
                                           legacyClass("empty", distributionBlock({})) +
                                           legacyClass("second", distributionBlock({"", tokenRecord("b", 7)})));
    Converted converted;
    read(convert(old), converted);
    EXPECT_EQ(5u, converted._format);
    EXPECT_EQ(4u, converted._extractor);
    EXPECT_EQ(0.05, converted._smoothing);

    const FeatureSet& set = converted._set;
    ASSERT_EQ(3u, set.classCount());
    EXPECT_EQ((ClassRecord{"first", 0, 13, 4}), set.classAt(0));
    EXPECT_EQ((ClassRecord{"empty", 1, 0, 0}), set.classAt(1));
    EXPECT_EQ((ClassRecord{"second", 2, 7, 1}), set.classAt(2));
    EXPECT_EQ(std::vector<Entry>({{"", 0, 2}}), records(set, 0));
    // "a" had count 0 and is gone, the two "b" of the first class add up, and the records are
    // sorted by feature, then class.
    EXPECT_EQ(std::vector<Entry>({{"b", 0, 6}, {"b", 2, 7}, {"c", 0, 1}}), records(set, 1));
    EXPECT_EQ(std::vector<Entry>({{"zz", 0, 4}}), records(set, 2));
    for (std::size_t k = 3; k < 32; ++k) EXPECT_TRUE(records(set, k).empty()) << k;
}

TEST(LegacyDataConverterTest, BadClassesAndShortDataThrowBeforeWriting) {
    const std::string block = distributionBlock({tokenRecord("", 1)});
    EXPECT_EQ("classifier: Trying to add an already existing class with the name 'dup'. Use "
              "classExists to find out if a class already is added.",
              failure(legacyBlob(4, 2, legacyClass("dup", block) + legacyClass("dup", block))));
    EXPECT_EQ("classifier: Trying to add a class with an empty name.",
              failure(legacyBlob(4, 1, legacyClass("", block))));
    EXPECT_EQ("classifier: Trying to convert old data with 65536 classes; a classifier holds at "
              "most 65535.",
              failure(legacyBlob(4, 65536, "")));
    EXPECT_EQ("classifier: Trying to convert old data with 4294967295 classes; a classifier holds "
              "at most 65535.",
              failure(legacyBlob(3, 0xFFFFFFFF, legacyClass("a", block))));
    // The largest count is allowed; the data then runs out at the second name.
    EXPECT_EQ(std::string("reader: ") + std::string(DatabaseReader::PrimitiveCorrupt),
              failure(legacyBlob(4, 65535, legacyClass("a", block))));

    const std::string valid = legacyBlob(4, 1, legacyClass("name", block));
    EXPECT_EQ(std::string("reader: ") + std::string(DatabaseReader::PrimitiveCorrupt),
              failure(valid.substr(0, 6)));
    EXPECT_EQ(std::string("reader: ") + std::string(DatabaseReader::StringCorrupt),
              failure(valid.substr(0, 14)));
    EXPECT_EQ(std::string("reader: ") + std::string(DatabaseReader::CharStreamCorrupt),
              failure(valid.substr(0, valid.size() - 1)));
}

}  // namespace
}  // namespace norvale::classifier
