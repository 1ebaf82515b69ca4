#include "posix/net/SocketErrors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <string>

#include "platform/errorresources/SystemErrorText.h"

namespace {

using platform::errorresources::systemErrorText;

// Constructing the table is itself a check: a code entered twice (EAGAIN and EWOULDBLOCK are one
// value on Linux) ends the process. The system's own text comes first; the table only fills its
// gaps (getaddrinfo's codes), and a code nobody knows still gets a sentence.
TEST(SocketErrorsTest, SystemTextComesFirstAndTheTableFillsItsGaps) {
    const posix::net::SocketErrors errors;
    std::string text = "unchanged";
    EXPECT_FALSE(errors.lookup(0, text));
    EXPECT_FALSE(errors.lookup(123456, text));
    EXPECT_EQ("unchanged", text);
    std::string lookupText;
    ASSERT_TRUE(errors.lookup(EAI_NONAME, lookupText));
    EXPECT_EQ(0u, lookupText.find("Host not found. "));
    const struct {
        int code;
        const posix::net::SocketErrors* mapper;
        std::string text;
    } cases[] = {
        {ENOENT, nullptr, "No such file or directory"},
        {ECONNREFUSED, &errors, "Connection refused"},
        {EAI_NONAME, &errors, lookupText},
        {10049, &errors, "Error message not found"},
        {10049, nullptr, "Error message not found"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ("System error message: " + c.text + ". Error code: " + std::to_string(c.code) + ".",
                  systemErrorText(c.code, c.mapper));
    }
    errno = EADDRINUSE;
    EXPECT_EQ(systemErrorText(EADDRINUSE), platform::errorresources::lastSystemErrorText());
}

}  // namespace
