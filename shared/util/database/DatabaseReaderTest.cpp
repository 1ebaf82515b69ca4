#include "util/database/DatabaseReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

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
