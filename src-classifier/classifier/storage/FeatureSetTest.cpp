#include "classifier/storage/FeatureSet.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "classifier/ClassifierException.h"
#include "util/database/DatabaseReader.h"
#include "util/database/DatabaseWriter.h"
#include "testing/MessageOf.h"

namespace norvale::classifier::storage {
namespace {

using namespace std::string_literals;
using blobtest::u16;
using blobtest::u32;
using util::database::DatabaseReader;
using util::database::DatabaseReaderException;
using util::database::DatabaseWriter;
using Entry = std::tuple<std::string, std::uint16_t, std::uint32_t>;

std::vector<Entry> records(const LaneBase& lane) {
    std::vector<Entry> result;
    for (LaneIterator it = lane.begin(); it != lane.end(); ++it) {
        result.emplace_back(std::string(it.feature()), it.classIndex(), it.count());
    }
    return result;
}

using norvale::quillmark::testing::messageOf;

std::string serialized(const FeatureSet& set) {
    std::string out;
    DatabaseWriter writer(&out);
    set.serialize(writer);
    EXPECT_EQ(out.size(), set.serializedSize());
    return out;
}

std::string record(std::string_view feature, std::uint16_t classIndex, std::uint32_t count) {
    std::string bytes(feature);
    bytes += u16(classIndex);
    bytes += u32(count);
    return bytes;
}

TEST(FeatureSetTest, RemovingAClassPacksTheIndexesInEveryLane) {
    FeatureSet set;
    for (const char* name : {"a", "b", "c"}) set.addClass(name);
    set.add("a", "x", 1);
    set.add("b", "x", 2);
    set.add("c", "x", 3);
    set.add("b", "", 4);
    set.add("c", "long feature", 5);
    set.compact();

    set.removeClass("a");
    ASSERT_EQ(2u, set.classCount());
    EXPECT_EQ((ClassRecord{"b", 0, 6, 2}), set.classAt(0));
    EXPECT_EQ((ClassRecord{"c", 1, 8, 2}), set.classAt(1));
    EXPECT_EQ(std::vector<Entry>({{"x", 0, 2}, {"x", 1, 3}}), records(set.lane(1)));
    EXPECT_EQ(std::vector<Entry>({{"", 0, 4}}), records(set.lane(0)));
    EXPECT_EQ(std::vector<Entry>({{"long feature", 1, 5}}), records(set.lane(12)));
}

// The class record's total and unique counts follow every way a pair appears or goes.
TEST(FeatureSetTest, ClassCountsFollowTrainingAndUntraining) {
    FeatureSet set;
    set.addClass("c");
    set.addClass("d");
    set.add("d", "abc", 1);
    const auto step = [&](int sign, std::string_view feature, std::uint32_t count,
                          bool compactAfter, ClassRecord expected) {
        sign > 0 ? set.add("c", feature, count) : set.sub("c", feature, count);
        if (compactAfter) set.compact();
        EXPECT_EQ(expected, set.getClass("c")) << feature << " " << sign * int(count);
    };
    step(+1, "ab", 2, false, {"c", 0, 2, 1});
    step(+1, "ab", 3, true, {"c", 0, 5, 1});
    step(+1, "abc", 3, true, {"c", 0, 8, 2});
    step(-1, "abc", 5, false, {"c", 0, 5, 1});    // takes at most what is there
    step(-1, "abc", 1, false, {"c", 0, 5, 1});    // already at zero
    step(-1, "never", 2, false, {"c", 0, 5, 1});  // absent
    step(-1, "ab", 5, false, {"c", 0, 0, 0});
    step(+1, "ab", 1, true, {"c", 0, 1, 1});      // revived before compaction
    step(-1, "ab", 1, true, {"c", 0, 0, 0});
    step(+1, "ab", 1, false, {"c", 0, 1, 1});     // trained again after compaction
    EXPECT_EQ((ClassRecord{"d", 1, 1, 1}), set.getClass("d"));
    EXPECT_EQ(std::vector<Entry>({{"abc", 1, 1}}), records(set.lane(3)));
}

// Two classes with records in lanes 0, 1 and 2, field by field: each field's bytes and the
// reading method that hits the end when the payload is cut inside that field. Records of the
// empty feature carry one filler byte, written as read.
TEST(FeatureSetTest, StoredLayoutRoundTripsAndEveryCutThrowsForItsField) {
    const std::string_view P = DatabaseReader::PrimitiveCorrupt;
    const std::string_view S = DatabaseReader::StringCorrupt;
    const std::string_view C = DatabaseReader::CharStreamCorrupt;
    std::vector<std::pair<std::string, std::string_view>> fields = {
        {u16(2), P},
        {u32(2), P}, {"ab", S}, {u16(0), P}, {u32(3), P}, {u32(2), P},
        {u32(7), P}, {"bin\0ary"s, S}, {u16(1), P}, {u32(2), P}, {u32(1), P},
        {u32(1), P}, {"\0"s + u16(0) + u32(2), C},
        {u32(1), P}, {record("x", 0, 1), C},
        {u32(1), P}, {record("x\xFF", 1, 2), C},
    };
    for (std::size_t k = 3; k < 32; ++k) fields.push_back({u32(0), P});
    std::string payload;
    std::vector<std::string_view> methodAt;
    for (const auto& [bytes, method] : fields) {
        payload += bytes;
        methodAt.insert(methodAt.end(), bytes.size(), method);
    }

    FeatureSet original;
    original.addClass("ab");
    original.addClass("bin\0ary"s);
    original.add("ab", "", 2);
    original.add("ab", "x", 1);
    original.add("bin\0ary"s, "x\xFF", 2);
    original.add("ab", "gone", 4);
    original.compact();
    original.sub("ab", "gone", 4);
    original.compact();
    ASSERT_EQ(payload, serialized(original));

    FeatureSet loaded;
    loaded.addClass("old");
    DatabaseReader reader(payload);
    loaded.deserialize(reader);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(original.classes(), loaded.classes());
    for (std::size_t k = 0; k < 32; ++k) EXPECT_TRUE(original.lane(k).equals(loaded.lane(k))) << k;

    std::string filler = payload;
    std::size_t fillerAt = 0;
    for (std::size_t f = 0; f < 12; ++f) fillerAt += fields[f].first.size();
    filler[fillerAt] = '\x7F';
    FeatureSet withFiller;
    DatabaseReader fillerReader(filler);
    withFiller.deserialize(fillerReader);
    EXPECT_EQ(filler, serialized(withFiller));

    for (std::size_t cut = 0; cut < payload.size(); ++cut) {
        FeatureSet set;
        DatabaseReader cutReader(payload.substr(0, cut));
        EXPECT_EQ(methodAt[cut],
                  messageOf<DatabaseReaderException>([&] { set.deserialize(cutReader); }))
            << "cut at " << cut;
    }
}

}  // namespace
}  // namespace norvale::classifier::storage
