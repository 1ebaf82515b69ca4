#include "util/Converter.h"

#include <gtest/gtest.h>

namespace {

TEST(ConverterTest, NarrowsUpToTheSignedMaximum) {
    EXPECT_EQ(0, util::toSigned32(0));
    EXPECT_EQ(2147483647, util::toSigned32(2147483647u));
}

TEST(ConverterTest, RefusesValuesThatWouldWrap) {
    try {
        util::toSigned32(2147483648u);
        FAIL() << "no exception";
    } catch (const util::ConverterException& e) {
        EXPECT_STREQ(
            "Conversion failed. The supplied number, 2147483648, is larger than the max value, "
            "2147483647 of the destination type.",
            e.what());
    }
    EXPECT_THROW(util::toSigned32(4294967295u), util::ConverterException);
}

}  // namespace
