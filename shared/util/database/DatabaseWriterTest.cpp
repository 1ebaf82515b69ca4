#include "util/database/DatabaseWriter.h"

#include <gtest/gtest.h>

#include <string>

#include "util/database/DatabaseReader.h"

namespace util::database {
namespace {

using namespace std::string_literals;

TEST(DatabaseWriterTest, AppendsRawLittleEndianValuesBehindWhatIsThere) {
    std::string out = "xy";
    DatabaseWriter writer(&out);
    writer.putPrimitive(std::uint16_t{0x0102});
    writer.putPrimitive(std::uint32_t{0x03040506});
    writer.putPrimitive(0.05);
    writer.putPrimitive(std::uint8_t{0xFF});
    EXPECT_EQ("xy\x02\x01\x06\x05\x04\x03\x9A\x99\x99\x99\x99\x99\xA9\x3F\xFF"s, out);
}

TEST(DatabaseWriterTest, StringsAndByteStreamsCarryAU32LengthAndNoTerminator) {
    std::string out;
    DatabaseWriter writer(&out);
    writer.putString("ab");
    writer.putString("");
    writer.putCharStream("\0\x01"s);
    writer.putBytes("zz", 2);
    EXPECT_EQ("\x02\0\0\0ab\0\0\0\0\x02\0\0\0\0\x01zz"s, out);
}

TEST(DatabaseWriterTest, WhatTheWriterWritesTheReaderReadsBack) {
    std::string out;
    DatabaseWriter writer(&out);
    writer.reserve(64);
    writer.putPrimitive(std::uint32_t{7});
    writer.putString("name with \0 inside"s);
    writer.putCharStream("bytes");
    writer.putPrimitive(-1.5);

    DatabaseReader reader(std::move(out));
    std::uint32_t number = 0;
    std::string name;
    std::string bytes;
    std::uint32_t length = 0;
    double value = 0;
    reader.getNextPrimitive(number);
    reader.getNextString(name);
    reader.getNextPrimitive(length);
    reader.getNextCharStream(bytes, length);
    reader.getNextPrimitive(value);
    EXPECT_EQ(7u, number);
    EXPECT_EQ("name with \0 inside"s, name);
    EXPECT_EQ("bytes", bytes);
    EXPECT_EQ(-1.5, value);
    EXPECT_TRUE(reader.atEnd());
}

}  // namespace
}  // namespace util::database
