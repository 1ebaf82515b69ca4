#include "server/LogText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace norvale::quillmark {
namespace {

// A client's text cannot forge a log line: control characters are escaped, and so is the
// backslash, so that a backslash sent cannot pass for an escape.
TEST(LogTextTest, ControlCharactersAreEscapedAndNothingElse) {
    for (const auto& [text, escaped] :
         {std::pair<std::string, std::string>{"plain 'name' <x/> \xc3\xa9",
                                              "plain 'name' <x/> \xc3\xa9"},
          {"a\nMon Dec 07 00:00:00 2026 [Error] forged\r\t",
           "a\\nMon Dec 07 00:00:00 2026 [Error] forged\\r\\t"},
          {std::string("nul\0", 4) + "\x1b\x7f", "nul\\x00\\x1b\\x7f"},
          {"C:\\n", "C:\\\\n"}}) {
        EXPECT_EQ(escaped, escapedForLog(text)) << text;
    }
}

}  // namespace
}  // namespace norvale::quillmark
