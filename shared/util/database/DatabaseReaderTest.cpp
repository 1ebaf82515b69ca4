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

// The message of the DatabaseReaderException that call throws, and whether the cursor stayed.
struct Failure {
    std::string _message;
    bool _cursorKept;
};

Failure failureOf(DatabaseReader& reader, const std::function<void(DatabaseReader&)>& call) {
    const std::size_t before = reader.position();
    try {
        call(reader);
    } catch (const DatabaseReaderException& error) {
        return {error.what(), reader.position() == before};
    }
    return {"(nothing thrown)", reader.position() == before};
}

struct PackedRecord {
    unsigned char _bytes[3];
};

TEST(DatabaseReaderTest, ReadsPrimitivesStringsAndByteRunsInOrder) {
    DatabaseReader reader("\x01\x02\x03\x04\x05\x06\x07\x03\0\0\0abc\x9A\x99\x99\x99\x99\x99\xA9\x3Fxyz"s);
    std::uint8_t byte = 0;
    std::uint16_t u16 = 0;
    std::uint32_t u32 = 0;
    std::string text;
    double value = 0;
    std::string stream;
    reader.getNextPrimitive(byte);
    reader.getNextPrimitive(u16);
    reader.getNextPrimitive(u32);
    EXPECT_EQ(7u, reader.position());
    reader.getNextString(text);
    reader.getNextPrimitive(value);
    reader.getNextCharStream(stream, 3);
    EXPECT_EQ(0x01, byte);
    EXPECT_EQ(0x0302, u16);
    EXPECT_EQ(0x07060504u, u32);
    EXPECT_EQ("abc", text);
    EXPECT_EQ(0.05, value);
    EXPECT_EQ("xyz", stream);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(0u, reader.remaining());
}

TEST(DatabaseReaderTest, EmptyItemsAtTheEndAreFine) {
    DatabaseReader reader("\0\0\0\0"s);
    std::string text = "old";
    reader.getNextString(text);
    EXPECT_EQ("", text);
    std::vector<unsigned char> bytes{1, 2};
    reader.getNextCharStream(bytes, 0);
    EXPECT_TRUE(bytes.empty());
    std::vector<PackedRecord> records(4);
    reader.getNextRecords(records, 0);
    EXPECT_TRUE(records.empty());
    EXPECT_TRUE(reader.atEnd());
}

TEST(DatabaseReaderTest, ReadsPackedRecordsAsOneRun) {
    DatabaseReader reader("abcdefg"s);
    std::vector<PackedRecord> records;
    reader.getNextRecords(records, 2);
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ('a', records[0]._bytes[0]);
    EXPECT_EQ('f', records[1]._bytes[2]);
    EXPECT_EQ(6u, reader.position());
}

// Each method names itself when it hits the end, and nothing of the item is consumed.
TEST(DatabaseReaderTest, ReadsPastTheEndThrowTheMessageOfTheirMethod) {
    DatabaseReader reader("\x05\0\0\0abc"s);
    std::uint64_t wide = 0;
    std::uint16_t u16 = 0;
    std::string out;
    std::vector<unsigned char> bytes;
    std::vector<PackedRecord> records;

    Failure failure = failureOf(reader, [&](DatabaseReader& r) { r.getNextPrimitive(wide); });
    EXPECT_EQ(DatabaseReader::PrimitiveCorrupt, failure._message);
    EXPECT_TRUE(failure._cursorKept);

    // The string's length is consumed, its five bytes are not there.
    failure = failureOf(reader, [&](DatabaseReader& r) { r.getNextString(out); });
    EXPECT_EQ(DatabaseReader::StringCorrupt, failure._message);
    EXPECT_EQ(4u, reader.position());

    failure = failureOf(reader, [&](DatabaseReader& r) { r.getNextCharStream(out, 5); });
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt, failure._message);
    EXPECT_TRUE(failure._cursorKept);
    failure = failureOf(reader, [&](DatabaseReader& r) { r.getNextCharStream(bytes, 5); });
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt, failure._message);
    failure = failureOf(reader, [&](DatabaseReader& r) { r.getNextRecords(records, 2); });
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt, failure._message);
    EXPECT_TRUE(failure._cursorKept);
    EXPECT_TRUE(records.empty());

    reader.getNextPrimitive(u16);
    EXPECT_EQ(0x6261, u16);
    failure = failureOf(reader, [&](DatabaseReader& r) { r.getNextPrimitive(u16); });
    EXPECT_EQ(DatabaseReader::PrimitiveCorrupt, failure._message);
    EXPECT_TRUE(failure._cursorKept);
    failure = failureOf(reader, [&](DatabaseReader& r) { r.requireCharStream(2); });
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt, failure._message);
    reader.requireCharStream(1);
}

TEST(DatabaseReaderTest, MessagesAreTheStoredTexts) {
    EXPECT_EQ("The database is corrupt, the size of a member exceeds the database size. Method "
              "getNextPrimitive.",
              DatabaseReader::PrimitiveCorrupt);
    EXPECT_EQ("The database is corrupt, the size of a member exceeds the database size. Method "
              "getNextString.",
              DatabaseReader::StringCorrupt);
    EXPECT_EQ("The database is corrupt, the size of a member exceeds the database size. Method "
              "getNextCharStream.",
              DatabaseReader::CharStreamCorrupt);
}

// Sizes near 2^32 and 2^64 must not wrap around the end of a small blob.
TEST(DatabaseReaderTest, HugeSizesAreRefusedWithoutWrappingOrAllocating) {
    DatabaseReader reader("\xFF\xFF\xFF\xFFxy"s);
    std::string out;
    std::vector<unsigned char> bytes;
    std::vector<PackedRecord> records;
    EXPECT_EQ(DatabaseReader::StringCorrupt,
              failureOf(reader, [&](DatabaseReader& r) { r.getNextString(out); })._message);
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (const std::uint64_t size : {max, max - 1, std::uint64_t{1} << 63, std::uint64_t{3}}) {
        EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
                  failureOf(reader, [&](DatabaseReader& r) { r.getNextCharStream(out, size); })
                      ._message)
            << size;
        EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
                  failureOf(reader, [&](DatabaseReader& r) { r.getNextCharStream(bytes, size); })
                      ._message)
            << size;
    }
    // 2^63 records of 3 bytes wrap to a small product in 64 bits.
    for (const std::uint64_t count : {max / 3 + 1, (std::uint64_t{1} << 63) + 1, std::uint64_t{1}}) {
        EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
                  failureOf(reader, [&](DatabaseReader& r) { r.getNextRecords(records, count); })
                      ._message)
            << count;
    }
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
              failureOf(reader, [&](DatabaseReader& r) { r.skipCharStream(max); })._message);
    EXPECT_EQ(DatabaseReader::CharStreamCorrupt,
              failureOf(reader, [&](DatabaseReader& r) { r.skipCharStream(3); })._message);
    EXPECT_EQ(4u, reader.position());
    reader.getNextCharStream(out, 2);
    EXPECT_EQ("xy", out);
}

TEST(DatabaseReaderTest, SkippingPassesOverBytesWithoutReadingThem) {
    DatabaseReader reader("abcdef"s);
    reader.skipCharStream(0);
    reader.skipCharStream(4);
    std::string out;
    reader.getNextCharStream(out, 2);
    EXPECT_EQ("ef", out);
    reader.skipCharStream(0);
    EXPECT_TRUE(reader.atEnd());
}

TEST(DatabaseReaderTest, KeepsItsOwnCopyOfTheData) {
    std::string data = "\x01\0\0\0"s;
    DatabaseReader reader{std::string_view(data)};
    data[0] = '\x09';
    std::uint32_t value = 0;
    reader.getNextPrimitive(value);
    EXPECT_EQ(1u, value);
}

}  // namespace
}  // namespace util::database
