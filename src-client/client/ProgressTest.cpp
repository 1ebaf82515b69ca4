#include "client/Progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace norvale::quillmark::client {
namespace {

// Each advance redraws the bar over the last one, padding a shorter line with blanks; finish
// blanks the line it drew and returns to its start.
TEST(ProgressTest, BarShowsFilesBytesRateAndTimeLeft) {
    double now = 100;
    std::ostringstream out;
    Progress progress(&out, true, [&now] { return now; }, 4, 4096);
    now = 102;
    progress.advance(1, 1024);
    now = 104;
    progress.advance(3, 3072);
    const std::string first =
        "[######------------------] 1/4 files  1.0 KB/4.0 KB  512 B/s  0:06 left";
    const std::string last =
        "[########################] 4/4 files  4.0 KB/4.0 KB  1.0 KB/s  0:00 left";
    EXPECT_EQ(progress.summary(), "4 files, 4.0 KB in 2 requests, 4.0 s (1.0 KB/s)");
    progress.finish();
    EXPECT_EQ(out.str(), "\r" + first + "\r" + last + "\r" + std::string(last.size(), ' ') + "\r");

    // An unknown total shows no time left; a shorter line blanks the rest of the longer one.
    std::ostringstream shorter;
    now = 0;
    Progress unknown(&shorter, true, [&now] { return now; }, 2, 0);
    now = 1;
    unknown.advance(1, 2 * 1024 * 1024);
    now = 4096;
    unknown.advance(1, 1);
    EXPECT_EQ(shorter.str(), "\r[############------------] 1/2 files  2.0 MB  2.0 MB/s"
                             "\r[########################] 2/2 files  2.0 MB  512 B/s ");
}

TEST(ProgressTest, UnitsAndDurations) {
    for (const auto& [bytes, text] : std::vector<std::pair<double, std::string>>{
             {0, "0 B"}, {1023, "1023 B"}, {1536, "1.5 KB"}, {5.6 * 1024 * 1024, "5.6 MB"},
             {3.0 * 1024 * 1024 * 1024, "3.0 GB"}}) {
        EXPECT_EQ(Progress::formatBytes(bytes), text);
    }
    for (const auto& [seconds, text] : std::vector<std::pair<double, std::string>>{
             {0, "0:00"}, {6.2, "0:07"}, {754, "12:34"}, {3723, "1:02:03"}}) {
        EXPECT_EQ(Progress::formatDuration(seconds), text);
    }
}

}  // namespace
}  // namespace norvale::quillmark::client
