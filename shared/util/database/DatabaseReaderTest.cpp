#include "util/database/DatabaseReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "util/database/DatabaseWriter.h"

namespace util::database {
namespace {

using namespace std::string_literals;

struct PackedRecord {
    unsigned char _bytes[3];
};

// The message of the DatabaseReaderException that call throws; the cursor must not move, but
// for a string, whose length is read before its size is checked.
std::string failureOf(DatabaseReader& reader, const std::function<void(DatabaseReader&)>& call,
                      std::size_t moves = 0) {
    const std::size_t before = reader.position();
    try {
        call(reader);
    } catch (const DatabaseReaderException& error) {
        EXPECT_EQ(before + moves, reader.position());
        return error.what();
    }
    return "(nothing thrown)";
}

TEST(DatabaseReaderTest, ReadsBackWhatTheWriterWrote) {
    std::string out = "in front";
    DatabaseWriter writer(&out);
    writer.putPrimitive(std::uint16_t{0x0102});
    writer.putPrimitive(0.05);
    writer.putString("a\0b"s);
    writer.putCharStream("");
    writer.putBytes("xyzuvw", 6);
    EXPECT_EQ("in front\x02\x01\x9A\x99\x99\x99\x99\x99\xA9\x3F\x03\0\0\0a\0b\0\0\0\0xyzuvw"s, out);

    DatabaseReader reader(std::move(out));
    std::string front;
    std::uint16_t u16 = 0;
    double value = 0;
    std::string text;
    std::uint32_t length = 9;
    std::vector<unsigned char> empty{1};
    std::vector<PackedRecord> records;
    reader.getNextCharStream(front, 8);
    reader.getNextPrimitive(u16);
    reader.getNextPrimitive(value);
    reader.getNextString(text);
    reader.getNextPrimitive(length);
    reader.getNextCharStream(empty, length);
    reader.getNextRecords(records, 1);
    reader.skipCharStream(3);
    EXPECT_EQ("in front", front);
    EXPECT_EQ(0x0102, u16);
    EXPECT_EQ(0.05, value);
    EXPECT_EQ("a\0b"s, text);
    EXPECT_TRUE(empty.empty());
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ('z', records[0]._bytes[2]);
    EXPECT_TRUE(reader.atEnd());
}

// Each method names itself when it hits the end, and nothing of the item is consumed (a
// string's length excepted). Sizes near 2^32 and 2^64 must not wrap around the end.
TEST(DatabaseReaderTest, ReadsPastTheEndThrowTheMessageOfTheirMethod) {
    std::uint64_t wide = 0;
    std::string out;
    std::vector<unsigned char> bytes;
    std::vector<PackedRecord> records;
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::string_view P = DatabaseReader::PrimitiveCorrupt;
    const std::string_view S = DatabaseReader::StringCorrupt;
    const std::string_view C = DatabaseReader::CharStreamCorrupt;
    struct Case {
        std::string data;
        std::function<void(DatabaseReader&)> call;
        std::string_view message;
        std::size_t moves;
    };
    const std::string small = "\x05\0\0\0abc"s;
    const std::vector<Case> cases = {
        {small, [&](DatabaseReader& r) { r.getNextPrimitive(wide); }, P, 0},
        {small, [&](DatabaseReader& r) { r.getNextString(out); }, S, 4},
        {small, [&](DatabaseReader& r) { r.getNextCharStream(out, 8); }, C, 0},
        {small, [&](DatabaseReader& r) { r.getNextCharStream(bytes, 8); }, C, 0},
        {small, [&](DatabaseReader& r) { r.getNextRecords(records, 3); }, C, 0},
        {small, [&](DatabaseReader& r) { r.skipCharStream(8); }, C, 0},
        {"\xFF\xFF\xFF\xFFxy"s, [&](DatabaseReader& r) { r.getNextString(out); }, S, 4},
        {"\x04\0\0\0abc"s, [&](DatabaseReader& r) { r.getNextString(out); }, S, 4},
        {small, [&](DatabaseReader& r) { r.getNextCharStream(out, max); }, C, 0},
        {small, [&](DatabaseReader& r) { r.skipCharStream(max - 1); }, C, 0},
        {small, [&](DatabaseReader& r) { r.getNextCharStream(bytes, std::uint64_t{1} << 63); }, C, 0},
        // (2^64 / 3 + 1) records of 3 bytes wrap to 2 bytes in 64 bits.
        {small, [&](DatabaseReader& r) { r.getNextRecords(records, max / 3 + 1); }, C, 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        DatabaseReader reader(cases[i].data);
        EXPECT_EQ(cases[i].message, failureOf(reader, cases[i].call, cases[i].moves)) << i;
    }
    EXPECT_TRUE(out.empty() && bytes.empty() && records.empty());
}

}  // namespace
}  // namespace util::database
