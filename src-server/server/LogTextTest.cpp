#include "server/LogText.h"

#include <gtest/gtest.h>

#include <string>

namespace norvale::quillmark {
namespace {

TEST(LogTextTest, ControlCharactersAreEscapedAndNothingElse) {
    const struct {
        std::string text;
        std::string escaped;
    } cases[] = {
        {"plain 'name' <x/> \xc3\xa9", "plain 'name' <x/> \xc3\xa9"},
        {"a\nMon Dec 07 00:00:00 2026 [Error] forged", "a\\nMon Dec 07 00:00:00 2026 [Error] forged"},
        {"\r\t", "\\r\\t"},
        {std::string("nul\0", 4) + "\x1b\x7f", "nul\\x00\\x1b\\x7f"},
        {"C:\\n", "C:\\\\n"},  // a backslash the client sent cannot pass for an escape
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.escaped, escapedForLog(c.text));
    }
}

}  // namespace
}  // namespace norvale::quillmark
