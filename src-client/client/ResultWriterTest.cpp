// The client's output beside the text answers: the JSON documents and the progress bar.
#include "client/JsonResultWriter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "client/Progress.h"

namespace norvale::quillmark::client {
namespace {

// The text output is checked byte for byte end to end (CommandRunnerTest, the README
// walkthrough); the JSON output there only as far as a server can drive it.
TEST(JsonResultWriterTest, EveryOutputIsOneJsonDocument) {
    const ClassifyResult classified{"c1", 0.625, {{"alpha", 0.25}, {"beta", 0.7}}};
    const KeywordsResult words{"c2", {{"vote", "politics", 0.95}, {"v\xe4rld", "sport", 0.8}}};
    std::ostringstream out;
    JsonResultWriter writer(&out);
    writer.beginTexts(2);
    writer.classification("dir/\"quoted\"\\name\n.txt", classified);
    writer.keywords("b\xff.txt", words);
    writer.endTexts();
    // A word or file name that is not UTF-8 comes as its characters read as ISO 8859-1, and
    // exactly in Base64.
    EXPECT_EQ(out.str(), R"([
  {"source": "dir/\"quoted\"\\name\n.txt", "textCoverage": 0.625, "classes": [{"className": "beta", "p": 0.7}, {"className": "alpha", "p": 0.25}]},
  {"source": "b\u00ff.txt", "sourceBase64": "Yv8udHh0", "keywords": [{"keyword": "vote", "className": "politics", "p": 0.95}, {"keyword": "v\u00e4rld", "keywordBase64": "duRybGQ=", "className": "sport", "p": 0.8}]}
]
)");

    // One line per change or training; an error replaces the texts collected so far.
    std::ostringstream more;
    JsonResultWriter other(&more);
    other.changed({"addClass", "news", {"a", "b"}});
    other.trained({"train", "news", "a", 3, 30, 1, 0.25});
    other.beginTexts(3);
    other.classification("a", classified);
    other.error(4000, "Bad \"class\"\n\ttab \x01\x7f");
    EXPECT_EQ(more.str(), R"({"action": "addClass", "classifier": "news", "classes": ["a", "b"]}
{"action": "train", "classifier": "news", "className": "a", "texts": 3, "bytes": 30, "requests": 1, "seconds": 0.25}
{"success": false, "statusCode": 4000, "message": "Bad \"class\"\n\ttab \u0001\u007f"}
)");
    EXPECT_EQ(jsonString(std::string("\xc3\xa9\xe2\x82\xac\0\xff", 7)),
              "\"\xc3\xa9\xe2\x82\xac\\u0000\\u00ff\"");
    EXPECT_FALSE(isUtf8("\xf0\x9f\x98"));
}

// Each advance redraws the bar over the last one, padding a shorter line with blanks; finish
// blanks the line it drew and returns to its start.
TEST(ProgressTest, BarShowsFilesBytesRateAndTimeLeft) {
    double now = 100;
    const auto clock = [&now] { return now; };
    std::ostringstream out;
    Progress progress(&out, true, clock, 4, 4096);
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
    Progress unknown(&shorter, true, clock, 2, 0);
    now = 1;
    unknown.advance(1, 2 * 1024 * 1024);
    now = 4096;
    unknown.advance(1, 1);
    EXPECT_EQ(shorter.str(),
              "\r[############------------] 1/2 files  2.0 MB  2.0 MB/s"
              "\r[########################] 2/2 files  2.0 MB  512 B/s ");
}

TEST(ProgressTest, UnitsAndDurations) {
    std::string texts;
    for (double bytes : {0.0, 1023.0, 1536.0, 5.6 * 1024 * 1024, 3.0 * 1024 * 1024 * 1024}) {
        texts += Progress::formatBytes(bytes) + "|";
    }
    for (double seconds : {0.0, 6.2, 754.0, 3723.0})
        texts += Progress::formatDuration(seconds) + "|";
    EXPECT_EQ(texts, "0 B|1023 B|1.5 KB|5.6 MB|3.0 GB|0:00|0:07|12:34|1:02:03|");
}

}  // namespace
}  // namespace norvale::quillmark::client
