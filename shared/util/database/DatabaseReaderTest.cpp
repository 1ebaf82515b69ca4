#include "util/database/DatabaseReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "testing/MessageOf.h"

namespace util::database {
namespace {

using namespace std::string_literals;
using norvale::quillmark::testing::messageOf;

struct PackedRecord {
    unsigned char _bytes[3];
};

// Each method names itself when it hits the end, and its cursor does not move (a string's length
// excepted, which is read before its size is checked). Sizes near 2^32 and 2^64 must not wrap
// around the end.
TEST(DatabaseReaderTest, ReadsPastTheEndThrowTheMessageOfTheirMethod) {
    std::uint64_t wide = 0;
    std::string out;
    std::vector<unsigned char> bytes;
    std::vector<PackedRecord> records;
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::string_view P = DatabaseReader::PrimitiveCorrupt, S = DatabaseReader::StringCorrupt,
                           C = DatabaseReader::CharStreamCorrupt;
    const std::string small = "\x05\0\0\0abc"s;
    const struct {
        std::string data;
        std::function<void(DatabaseReader&)> call;
        std::string_view message;
        std::size_t moves;
    } cases[] = {
        {small, [&](DatabaseReader& r) { r.getNextPrimitive(wide); }, P, 0},
        {"\xFF\xFF\xFF\xFFxy"s, [&](DatabaseReader& r) { r.getNextString(out); }, S, 4},
        // One byte more than the data holds.
        {"\x04\0\0\0abc"s, [&](DatabaseReader& r) { r.getNextString(out); }, S, 4},
        {small, [&](DatabaseReader& r) { r.getNextCharStream(out, max); }, C, 0},
        {small, [&](DatabaseReader& r) { r.skipCharStream(max - 1); }, C, 0},
        {small, [&](DatabaseReader& r) { r.getNextCharStream(bytes, std::uint64_t{1} << 63); }, C,
         0},
        // (2^64 / 3 + 1) records of 3 bytes wrap to 2 bytes in 64 bits.
        {small, [&](DatabaseReader& r) { r.getNextRecords(records, max / 3 + 1); }, C, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        DatabaseReader reader(c.data);
        EXPECT_EQ(c.message, messageOf<DatabaseReaderException>([&] { c.call(reader); }));
        EXPECT_EQ(c.moves, reader.position());
    }
    EXPECT_TRUE(out.empty() && bytes.empty() && records.empty());
}

}  // namespace
}  // namespace util::database
