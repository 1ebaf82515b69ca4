#include "classifier/storage/FeatureSet.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "util/database/DatabaseReader.h"
#include "util/database/DatabaseWriter.h"

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

// The class record's total and unique counts follow every way a pair appears or goes, and
// removing a class packs the indexes of the others in every lane.
TEST(FeatureSetTest, ClassCountsFollowTrainingUntrainingAndRemoval) {
    FeatureSet set;
    for (const char* name : {"c", "d", "e"}) set.addClass(name);
    set.addAt(1, "abc", 1);
    set.addAt(2, "abc", 3);
    set.addAt(2, "", 4);
    set.addAt(2, "long feature", 5);
    const struct {
        int sign;
        const char* feature;
        std::uint32_t count;
        bool compactAfter;
        std::uint32_t total, unique;
    } steps[] = {
        {+1, "ab", 2, false, 2, 1},     {+1, "ab", 3, true, 5, 1},
        {+1, "abc", 3, true, 8, 2},     {-1, "abc", 5, false, 5, 1},  // at most what is there
        {-1, "abc", 1, false, 5, 1},    // already at zero
        {-1, "never", 2, false, 5, 1},  // absent
        {-1, "ab", 5, false, 0, 0},     {+1, "ab", 1, true, 1, 1},    // revived before compaction
        {-1, "ab", 1, true, 0, 0},      {+1, "ab", 1, false, 1, 1},   // trained after compaction
    };
    for (const auto& s : steps) {
        if (s.sign > 0) {
            set.addAt(0, s.feature, s.count);
        } else {
            set.subAt(0, s.feature, s.count);
        }
        if (s.compactAfter) set.compact();
        EXPECT_EQ((ClassRecord{"c", 0, s.total, s.unique}), set.getClass("c"))
            << s.feature << " " << s.sign * int(s.count);
    }
    set.compact();
    set.removeClass("c");
    ASSERT_EQ(2u, set.classCount());
    EXPECT_EQ((ClassRecord{"d", 0, 1, 1}), set.classAt(0));
    EXPECT_EQ((ClassRecord{"e", 1, 12, 3}), set.classAt(1));
    EXPECT_EQ(std::vector<Entry>({{"", 1, 4}}), records(set.lane(0)));
    EXPECT_EQ(std::vector<Entry>(), records(set.lane(2)));
    EXPECT_EQ(std::vector<Entry>({{"abc", 0, 1}, {"abc", 1, 3}}), records(set.lane(3)));
    EXPECT_EQ(std::vector<Entry>({{"long feature", 1, 5}}), records(set.lane(12)));
}

// Two classes with records in lanes 0, 1 and 2, byte for byte. Records of the empty feature
// carry one filler byte, written as read. Data cut anywhere is refused.
TEST(FeatureSetTest, StoredLayoutRoundTripsAndEveryCutIsRefused) {
    // The class count, then per class its name, index, total and unique counts.
    const std::string classes = u16(2) + u32(2) + "ab" + u16(0) + u32(3) + u32(2) + u32(7) +
                                "bin\0ary"s + u16(1) + u32(2) + u32(1);
    std::string payload = classes + u32(1) + "\0"s + u16(0) + u32(2) + u32(1) + record("x", 0, 1) +
                          u32(1) + record("x\xFF", 1, 2);
    for (std::size_t k = 3; k < 32; ++k) payload += u32(0);

    FeatureSet original;
    original.addClass("ab");
    original.addClass("bin\0ary"s);
    original.addAt(0, "", 2);
    original.addAt(0, "x", 1);
    original.addAt(1, "x\xFF", 2);
    original.addAt(0, "gone", 4);
    original.compact();
    original.subAt(0, "gone", 4);
    original.compact();
    ASSERT_EQ(payload, serialized(original));

    std::string filler = payload;
    filler[classes.size() + 4] = '\x7F';
    for (const std::string& data : {payload, filler}) {
        FeatureSet loaded;
        loaded.addClass("old");
        DatabaseReader reader(data);
        loaded.deserialize(reader);
        EXPECT_TRUE(reader.atEnd());
        EXPECT_EQ(original.classes(), loaded.classes());
        for (std::size_t k = 0; k < 32; ++k) {
            EXPECT_EQ(records(original.lane(k)), records(loaded.lane(k))) << k;
        }
        EXPECT_EQ(data, serialized(loaded));
    }
    for (std::size_t cut = 0; cut < payload.size(); ++cut) {
        FeatureSet set;
        DatabaseReader reader(payload.substr(0, cut));
        EXPECT_THROW(set.deserialize(reader), DatabaseReaderException) << "cut at " << cut;
    }
}

}  // namespace
}  // namespace norvale::classifier::storage
