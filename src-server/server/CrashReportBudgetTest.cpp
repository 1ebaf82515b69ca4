#include "server/CrashReportBudget.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ctime>
#include <tuple>

namespace norvale::quillmark {
namespace {

// Errors of one kind differ only in the details a client causes (a connection's id and what
// follows it); the kinds within one interval are bounded.
TEST(CrashReportBudgetTest, OneReportPerKindAndIntervalOfBoundedKinds) {
    CrashReportBudget budget;
    const std::tuple<const char*, std::time_t, bool> steps[] = {
        {"An SocketException when running a connection with id 7. reset", 1000, true},
        {"An SocketException when running a connection with id 8. timeout", 1009, false},
        {"Out of memory.", 1009, true},
        {"Caught an exception while iterating calls. Method: 'a'", 1009, true},
        {"Caught an exception while iterating calls. Method: 'b'", 1009, false},
        {"An SocketException when running a connection with id 9. reset", 1010, true},
        {"Out of memory.", 1018, false},
        {"Out of memory.", 1019, true},
    };
    for (const auto& [message, at, admitted] : steps)
        EXPECT_EQ(admitted, budget.admitError(message, at)) << message << at;
    CrashReportBudget full;
    for (std::size_t n = 0; n < CrashReportBudget::MaxKinds; ++n) {
        ASSERT_TRUE(full.admitError(
            {'k', static_cast<char>('a' + n / 26), static_cast<char>('a' + n % 26)}, 500));
    }
    EXPECT_FALSE(full.admitError("one kind too many", 505));
    EXPECT_TRUE(full.admitError("one kind too many", 510));
}

}  // namespace
}  // namespace norvale::quillmark
