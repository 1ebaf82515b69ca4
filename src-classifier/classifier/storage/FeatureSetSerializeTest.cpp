#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "classifier/CheckReportFixture.h"
#include "classifier/storage/FeatureSet.h"
#include "util/database/DatabaseReader.h"
#include "util/database/DatabaseWriter.h"

namespace norvale::classifier::storage {
namespace {

using namespace std::string_literals;
using util::database::DatabaseReader;
using util::database::DatabaseReaderException;
using util::database::DatabaseWriter;
using blobtest::u16;
using blobtest::u32;
using Entry = std::tuple<std::string, std::uint16_t, std::uint32_t>;

std::vector<Entry> records(const LaneBase& lane) {
    std::vector<Entry> result;
    for (LaneIterator it = lane.begin(); it != lane.end(); ++it) {
        result.emplace_back(std::string(it.feature()), it.classIndex(), it.count());
    }
    return result;
}

std::string serialized(const FeatureSet& set) {
    std::string out;
    DatabaseWriter writer(&out);
    set.serialize(writer);
    EXPECT_EQ(out.size(), set.serializedSize());
    return out;
}

// One lane record as stored: the feature's bytes, its class index, its count. Built by appending:
// GCC 12 at -O3 reports a false -Wrestrict overlap for a literal + std::string temporary.
std::string record(std::string_view feature, std::uint16_t classIndex, std::uint32_t count) {
    std::string bytes(feature);
    bytes += u16(classIndex);
    bytes += u32(count);
    return bytes;
}

std::string emptyLanes(std::size_t count) {
    std::string lanes;
    for (std::size_t k = 0; k < count; ++k) lanes += u32(0);
    return lanes;
}

// The message of the DatabaseReaderException that reading payload into set throws.
std::string readFailure(FeatureSet& set, const std::string& payload) {
    DatabaseReader reader(payload);
    try {
        set.deserialize(reader);
    } catch (const DatabaseReaderException& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

// Two classes, features in lanes 1 and 2, described field by field: each field's bytes and the
// reading method that hits the end when the payload is cut inside that field.
struct Field {
    std::string _bytes;
    std::string_view _method;
};

std::vector<Field> twoClassFields() {
    const std::string_view P = DatabaseReader::PrimitiveCorrupt;
    const std::string_view S = DatabaseReader::StringCorrupt;
    const std::string_view C = DatabaseReader::CharStreamCorrupt;
    std::vector<Field> fields = {
        {u16(2), P},
        {u32(2), P}, {"ab", S}, {u16(0), P}, {u32(1), P}, {u32(1), P},
        {u32(1), P}, {"c", S}, {u16(1), P}, {u32(2), P}, {u32(1), P},
        {u32(0), P},
        {u32(1), P}, {record("x", 0, 1), C},
        {u32(1), P}, {record("xy", 1, 2), C},
    };
    for (std::size_t k = 3; k < 32; ++k) fields.push_back({u32(0), P});
    return fields;
}

TEST(FeatureSetSerializeTest, EmptySetIs130BytesAndReadsBackEmpty) {
    FeatureSet set;
    const std::string payload = serialized(set);
    EXPECT_EQ(130u, payload.size());
    EXPECT_EQ(u16(0) + emptyLanes(32), payload);

    FeatureSet loaded;
    loaded.addClass("old");
    loaded.add("old", "abc", 1);
    DatabaseReader reader(payload);
    loaded.deserialize(reader);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(0u, loaded.classCount());
    ASSERT_EQ(32u, loaded.laneCount());
    for (std::size_t k = 0; k < 32; ++k) EXPECT_TRUE(records(loaded.lane(k)).empty()) << k;
}

TEST(FeatureSetSerializeTest, RoundTripGivesAnEqualSetAndTheSameBytes) {
    FeatureSet set;
    set.addClass("first");
    set.addClass("bin\0ary"s);
    set.add("first", "", 5);
    set.add("bin\0ary"s, "a", 9);
    set.add("first", "a", 4);
    set.add("bin\0ary"s, std::string(31, '\xFF'), 7);
    set.compact();
    set.sub("first", "a", 4);  // untrained to zero, dropped by compaction
    set.compact();
    const std::string payload = serialized(set);

    FeatureSet loaded;
    DatabaseReader reader(payload);
    loaded.deserialize(reader);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(set.classes(), loaded.classes());
    for (std::size_t k = 0; k < 32; ++k) EXPECT_TRUE(set.lane(k).equals(loaded.lane(k))) << k;
    EXPECT_EQ(std::vector<Entry>({{"a", 1, 9}}), records(loaded.lane(1)));
    EXPECT_EQ(payload, serialized(loaded));
}

// Records of the empty feature carry one filler byte, so they are 7 bytes long both ways; the
// filler is written as read and never interpreted.
TEST(FeatureSetSerializeTest, EmptyFeatureRecordsAreSevenBytes) {
    FeatureSet set;
    set.addClass("c");
    set.add("c", "", 2);
    set.compact();
    const std::string laneZero = u32(1) + "\0"s + u16(0) + u32(2);
    EXPECT_EQ(u16(1) + u32(1) + "c" + u16(0) + u32(2) + u32(1) + laneZero + emptyLanes(31),
              serialized(set));

    const std::string withFiller = u16(0) + u32(2) + "\x7F"s + u16(3) + u32(8) + "\xAB"s +
                                   u16(4) + u32(9) + emptyLanes(31);
    FeatureSet loaded;
    DatabaseReader reader(withFiller);
    loaded.deserialize(reader);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(std::vector<Entry>({{"", 3, 8}, {"", 4, 9}}), records(loaded.lane(0)));
    EXPECT_EQ(withFiller, serialized(loaded));
}

// Class indexes, record order, duplicates and zero counts are taken as stored.
TEST(FeatureSetSerializeTest, ReadsStoredValuesWithoutCheckingThem) {
    const std::string payload = u16(1) + u32(1) + "k" + u16(7) + u32(100) + u32(200) + u32(0) +
                                u32(4) + "b" + u16(9) + u32(1) + "a" + u16(0) + u32(0) + "a" +
                                u16(0) + u32(0) + "a" + u16(3) + u32(5) + emptyLanes(30);
    FeatureSet set;
    DatabaseReader reader(payload);
    set.deserialize(reader);
    EXPECT_EQ((ClassRecord{"k", 7, 100, 200}), set.classAt(0));
    EXPECT_EQ(std::vector<Entry>({{"b", 9, 1}, {"a", 0, 0}, {"a", 0, 0}, {"a", 3, 5}}),
              records(set.lane(1)));
    EXPECT_EQ(payload, serialized(set));
}

// The two-class layout is checked byte for byte before it is cut.
TEST(FeatureSetSerializeTest, EveryCutThrowsTheMessageOfTheFieldItFallsInto) {
    const std::vector<Field> fields = twoClassFields();
    std::string payload;
    std::vector<std::string_view> methodAt;
    for (const Field& field : fields) {
        payload += field._bytes;
        methodAt.insert(methodAt.end(), field._bytes.size(), field._method);
    }

    FeatureSet original;
    original.addClass("ab");
    original.addClass("c");
    original.add("ab", "x", 1);
    original.add("c", "xy", 2);
    original.compact();
    ASSERT_EQ(payload, serialized(original));

    for (std::size_t cut = 0; cut < payload.size(); ++cut) {
        FeatureSet set;
        EXPECT_EQ(methodAt[cut], readFailure(set, payload.substr(0, cut))) << "cut at " << cut;
    }
}

// A record count the remaining bytes cannot hold is refused before the records are allocated;
// the largest counts would ask for more memory than the machine has.
TEST(FeatureSetSerializeTest, RecordCountBeyondTheDataIsRefusedBeforeAllocating) {
    for (const std::uint32_t count : {0xFFFFFFFFu, 0x80000000u, 0x1000000u}) {
        FeatureSet set;
        EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
                  readFailure(set, u16(0) + emptyLanes(31) + u32(count) + std::string(64, 'r')))
            << count;
    }
    // Lane 1 records are 7 bytes: exactly enough bytes load, one byte less is refused.
    const std::string twoRecords = record("a", 0, 1) + record("b", 0, 1);
    FeatureSet set;
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
              readFailure(set, u16(0) + u32(0) + u32(2) + twoRecords.substr(0, 13)));
    EXPECT_EQ("(nothing thrown)",
              readFailure(set, u16(0) + u32(0) + u32(2) + twoRecords + emptyLanes(30)));
    EXPECT_EQ(2u, records(set.lane(1)).size());
    // A class count the data cannot hold fails at the first missing record.
    EXPECT_EQ(DatabaseReader::StringCorrupt, readFailure(set, u16(0xFFFF) + u32(5) + "abc"));
}

using FeatureSetSerializeDeathTest = CheckReportFixture;

TEST_F(FeatureSetSerializeDeathTest, SerialisingUncompactedLanesIsAFailedCheck) {
    FeatureSet set;
    set.addClass("c");
    set.add("c", "pending", 1);
    EXPECT_DEATH(
        {
            enterDir();
            serialized(set);
        },
        "");
    expectReport("isCompact()", "The lane has not been compacted since training");
}

}  // namespace
}  // namespace norvale::classifier::storage
