#include "exceptions/Exception.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class DerivedException : public exceptions::Exception {
public:
    using Exception::Exception;
};

TEST(ExceptionTest, KeepsShortMessagesWhole) {
    const exceptions::Exception e("Failed using the 'recv' system call.");
    EXPECT_STREQ("Failed using the 'recv' system call.", e.what());
}

TEST(ExceptionTest, CutsMessagesTo4095Characters) {
    const std::string exact(4095, 'a');
    EXPECT_EQ(exact, exceptions::Exception(exact).what());

    std::string longer(5000, 'b');
    longer[4094] = 'x';
    longer[4095] = 'y';
    const exceptions::Exception e(longer);
    const std::string kept = e.what();
    ASSERT_EQ(4095u, kept.size());
    EXPECT_EQ('x', kept.back());
}

TEST(ExceptionTest, MessageSurvivesCopyAndCatchByBase) {
    try {
        const std::string message = "message built on the heap " + std::to_string(42);
        throw DerivedException(message);
    } catch (const exceptions::Exception& e) {
        const exceptions::Exception copy = e;
        EXPECT_STREQ("message built on the heap 42", copy.what());
    }
}

TEST(ExceptionTest, EmbeddedNulEndsTheMessage) {
    const exceptions::Exception e(std::string_view("ab\0cd", 5));
    EXPECT_STREQ("ab", e.what());
}

}  // namespace
