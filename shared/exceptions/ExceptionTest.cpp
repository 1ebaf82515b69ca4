#include "exceptions/Exception.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ExceptionTest, KeepsItsOwnCopyOfAtMost4095Characters) {
    std::string longer(5000, 'b');
    longer[4094] = 'x';
    const exceptions::Exception cut(longer);
    longer.clear();
    EXPECT_EQ(std::string(4094, 'b') + "x", cut.what());
    const exceptions::Exception copy = cut;
    EXPECT_EQ(4095u, std::string(copy.what()).size());
    EXPECT_EQ(std::string(4095, 'a'), exceptions::Exception(std::string(4095, 'a')).what());
    EXPECT_STREQ("ab", exceptions::Exception(std::string_view("ab\0cd", 5)).what());
}

}  // namespace
