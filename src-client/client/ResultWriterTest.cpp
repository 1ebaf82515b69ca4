#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "client/ClientTestSupport.h"
#include "client/JsonResultWriter.h"

namespace norvale::quillmark::client {
namespace {

using test::item;
using test::Json;
using test::parseJson;

// The text output is checked byte for byte end to end (CommandRunnerTest, the README
// walkthrough); the JSON output there only as far as a server can drive it.
TEST(JsonResultWriterTest, EveryOutputIsOneJsonDocument) {
    const ClassifyResult classified{"c1", 0.625, {{"alpha", 0.25}, {"beta", 0.7}}};
    const KeywordsResult words{"c2", {{"vote", "politics", 0.95}, {"v\xe4rld", "sport", 0.8}}};
    std::ostringstream out;
    JsonResultWriter writer(&out);
    writer.beginTexts(2);
    writer.classification("dir/\"quoted\"\\name\n.txt", classified);
    writer.keywords("b.txt", words);
    writer.endTexts();
    const Json texts = parseJson(out.str());
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(item(texts, 0).get<std::string>("source"), "dir/\"quoted\"\\name\n.txt");
    EXPECT_DOUBLE_EQ(item(texts, 0).get<double>("textCoverage"), 0.625);
    const Json& classes = item(texts, 0).get_child("classes");
    EXPECT_EQ(item(classes, 0).get<std::string>("className"), "beta");
    EXPECT_DOUBLE_EQ(item(classes, 1).get<double>("p"), 0.25);
    const Json& keywords = item(texts, 1).get_child("keywords");
    EXPECT_EQ(item(keywords, 0).get<std::string>("keyword"), "vote");
    EXPECT_EQ(item(keywords, 0).count("keywordBase64"), 0u);
    // A word that is not UTF-8 comes as its characters read as ISO 8859-1, and exactly in Base64.
    EXPECT_EQ(item(keywords, 1).get<std::string>("keyword"), "v\xc3\xa4rld");
    EXPECT_EQ(item(keywords, 1).get<std::string>("keywordBase64"), "duRybGQ=");

    // One line per change or training; an error replaces the texts collected so far.
    std::ostringstream more;
    JsonResultWriter other(&more);
    other.changed({"addClass", "news", {"a", "b"}});
    other.trained({"train", "news", "a", 3, 30, 1, 0.25});
    other.beginTexts(3);
    other.classification("a", classified);
    other.error(4000, "Bad \"class\"\n\ttab \x01");
    std::istringstream lines(more.str());
    std::string line[3];
    for (std::string& l : line) std::getline(lines, l);
    EXPECT_EQ(item(parseJson(line[0]).get_child("classes"), 1).get_value<std::string>(), "b");
    EXPECT_EQ(parseJson(line[1]).get<int>("bytes"), 30);
    const Json error = parseJson(line[2]);
    EXPECT_FALSE(error.get<bool>("success"));
    EXPECT_EQ(error.get<int>("statusCode"), 4000);
    EXPECT_EQ(error.get<std::string>("message"), "Bad \"class\"\n\ttab \x01");

    EXPECT_EQ(jsonString("\xc3\xa9\xe2\x82\xac"), "\"\xc3\xa9\xe2\x82\xac\"");
    EXPECT_EQ(jsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
    EXPECT_EQ(jsonString("\xff\x7f"), "\"\\u00ff\\u007f\"");
    EXPECT_FALSE(isUtf8("\xf0\x9f\x98"));
    EXPECT_FALSE(isUtf8("\xc0\x80"));
}

}  // namespace
}  // namespace norvale::quillmark::client
