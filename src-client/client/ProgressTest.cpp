#include "client/Progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace norvale::quillmark::client {
namespace {

TEST(ProgressTest, BarShowsFilesBytesRateAndTimeLeft) {
    double now = 100;
    std::ostringstream out;
    Progress progress(
        &out, true, [&now] { return now; }, 4, 4096);
    now = 102;
    progress.advance(1, 1024);
    EXPECT_EQ(progress.bar(),
              "[######------------------] 1/4 files  1.0 KB/4.0 KB  512 B/s  0:06 left");
    EXPECT_EQ(out.str(), "\r" + progress.bar());

    now = 104;
    progress.advance(3, 3072);
    EXPECT_EQ(progress.bar(),
              "[########################] 4/4 files  4.0 KB/4.0 KB  1.0 KB/s  0:00 left");
    EXPECT_EQ(progress.requests(), 2u);
    EXPECT_EQ(progress.summary(), "4 files, 4.0 KB in 2 requests, 4.0 s (1.0 KB/s)");

    // finish blanks the line it drew and returns to its start.
    const std::size_t before = out.str().size();
    progress.finish();
    const std::string cleared = out.str().substr(before);
    EXPECT_EQ(cleared, "\r" + std::string(progress.bar().size(), ' ') + "\r");
}

TEST(ProgressTest, ShorterLinesOverwriteLongerOnes) {
    double now = 0;
    std::ostringstream out;
    Progress progress(
        &out, true, [&now] { return now; }, 2, 0);
    now = 1;
    progress.advance(1, 2 * 1024 * 1024);  // unknown total: no time left
    const std::string first = "\r" + progress.bar();
    EXPECT_EQ(progress.bar(), "[############------------] 1/2 files  2.0 MB  2.0 MB/s");
    now = 1000;
    progress.advance(1, 1);
    const std::string second = out.str().substr(first.size());
    EXPECT_EQ(second.substr(0, 1 + progress.bar().size()), "\r" + progress.bar());
    EXPECT_EQ(second.size(), std::max(first.size(), 1 + progress.bar().size()));
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
