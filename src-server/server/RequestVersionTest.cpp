#include "server/RequestVersion.h"

#include <gtest/gtest.h>

#include <string>

namespace norvale::quillmark {
namespace {

// A version that is no number ends in an error document (XmlClassifierTest).
TEST(RequestVersionTest, OnlyExactlyOnePointZeroOneSelectsTheNewerProtocol) {
    const struct {
        const char* attribute;
        const char* text;
        double value;
    } cases[] = {
        {"1.01", "1.01", 1.01}, {"1.0100", "1.01", 1.01}, {"1.00", "1.00", 1.0}, {"1", "1.00", 1.0},
        {"2.00", "1.00", 1.0},  {"1.011", "1.00", 1.0},   {"0.5", "1.00", 1.0},
    };
    for (const auto& c : cases) {
        const RequestVersion version = RequestVersion::parse(c.attribute);
        EXPECT_STREQ(c.text, version.getText()) << c.attribute;
        EXPECT_EQ(c.value, version.getValue()) << c.attribute;
    }
}

}  // namespace
}  // namespace norvale::quillmark
