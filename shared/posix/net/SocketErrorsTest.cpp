#include "posix/net/SocketErrors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <string>

#include "platform/errorresources/SystemErrorText.h"

namespace {

using platform::errorresources::systemErrorText;

// Constructing the table is itself a check: a code entered twice (EAGAIN and EWOULDBLOCK are one
// value on Linux, as are EOPNOTSUPP and ENOTSUP) ends the process.
TEST(SocketErrorsTest, DescribesSocketCodesAsTitleAndExplanation) {
    const posix::net::SocketErrors errors;
    std::string text;
    ASSERT_TRUE(errors.lookup(EADDRINUSE, text));
    EXPECT_EQ(0u, text.find("Address already in use. Only one usage of each socket address "
                            "(protocol/IP address/port) is normally permitted."));
    // Unknown codes are not found and leave the text alone.
    text = "unchanged";
    EXPECT_FALSE(errors.lookup(0, text));
    EXPECT_FALSE(errors.lookup(123456, text));
    EXPECT_EQ("unchanged", text);
}

// strerror has a text for every errno value, so the table only speaks for getaddrinfo's codes.
TEST(SocketErrorsTest, SystemTextComesFirstAndTheTableFillsItsGaps) {
    const posix::net::SocketErrors errors;
    EXPECT_EQ("System error message: Connection refused. Error code: " +
                  std::to_string(ECONNREFUSED) + ".",
              systemErrorText(ECONNREFUSED, &errors));
    std::string lookupText;
    ASSERT_TRUE(errors.lookup(EAI_NONAME, lookupText));
    EXPECT_EQ(
        "System error message: " + lookupText + ". Error code: " + std::to_string(EAI_NONAME) + ".",
        systemErrorText(EAI_NONAME, &errors));
    EXPECT_EQ(0u, lookupText.find("Host not found. "));
}

}  // namespace
