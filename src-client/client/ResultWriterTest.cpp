#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "client/ClientTestSupport.h"
#include "client/JsonResultWriter.h"
#include "client/TextResultWriter.h"

namespace norvale::quillmark::client {
namespace {

using test::Json;
using test::JsonReader;

const ClassifyResult Classified{"c1", 0.625, {{"alpha", 0.25}, {"beta", 0.7}, {"gamma", 0.05}}};
const KeywordsResult Words{
    "c2", {{"ball", "sport", 0.6}, {"vote", "politics", 0.95}, {"v\xe4rld", "sport", 0.8}}};

TEST(TextResultWriterTest, SeveralTextsAreHeadedByTheirNames) {
    std::ostringstream out;
    TextResultWriter writer(&out);
    ClassifyResult noCoverage = Classified;
    noCoverage.textCoverage.reset();
    writer.beginTexts(2);
    writer.classification("a.txt", noCoverage);
    writer.keywords("b.txt", Words);
    writer.endTexts();
    EXPECT_EQ(out.str(),
              "a.txt:\n"
              "  beta   0.7\n"
              "  alpha  0.25\n"
              "  gamma  0.05\n"
              "\n"
              "b.txt:\n"
              "  0.95         politics  vote\n"
              "  0.8          sport     v\xe4rld\n"
              "  0.6          sport     ball\n");
}

TEST(TextResultWriterTest, ChangesTrainingAndInformationReadAsSentencesAndColumns) {
    std::ostringstream out;
    TextResultWriter writer(&out);
    writer.changed({"create", "news", {}});
    writer.changed({"addClass", "news", {"sport", "politics"}});
    writer.changed({"removeClass", "news", {"sport"}});
    writer.changed({"remove", "news", {}});
    writer.trained({"train", "news", "sport", 2000, 3 * 1024 * 1024, 7, 1.5});
    writer.trained({"untrain", "news", "sport", 1, 10, 1, 0.1});
    writer.information("news", {"c1", {{"sport", 1234, 56789}, {"a-much-longer-name", 1, 2}}});
    writer.information("empty", {"c1", {}});
    EXPECT_EQ(out.str(),
              "Created classifier 'news'.\n"
              "Added class 'sport' to classifier 'news'.\n"
              "Added class 'politics' to classifier 'news'.\n"
              "Removed class 'sport' from classifier 'news'.\n"
              "Removed classifier 'news'.\n"
              "Trained 2000 texts (3.0 MB) into class 'sport' of classifier 'news' in 7 "
              "requests.\n"
              "Untrained 1 text (10 B) from class 'sport' of classifier 'news' in 1 request.\n"
              "class               unique features  total count\n"
              "sport                          1234        56789\n"
              "a-much-longer-name                1            2\n"
              "Classifier 'empty' has no classes.\n");
}

TEST(JsonResultWriterTest, EveryOutputIsOneJsonDocument) {
    std::ostringstream out;
    JsonResultWriter writer(&out);
    writer.beginTexts(2);
    writer.classification("dir/\"quoted\"\\name\n.txt", Classified);
    writer.keywords("b.txt", Words);
    writer.endTexts();
    const Json texts = JsonReader::parse(out.str());
    ASSERT_EQ(texts.items.size(), 2u);
    EXPECT_EQ(texts[0]["source"].text, "dir/\"quoted\"\\name\n.txt");
    EXPECT_DOUBLE_EQ(texts[0]["textCoverage"].number, 0.625);
    ASSERT_EQ(texts[0]["classes"].items.size(), 3u);
    EXPECT_EQ(texts[0]["classes"][0]["className"].text, "beta");
    EXPECT_DOUBLE_EQ(texts[0]["classes"][0]["p"].number, 0.7);
    EXPECT_EQ(texts[0]["classes"][2]["className"].text, "gamma");

    const Json& words = texts[1]["keywords"];
    ASSERT_EQ(words.items.size(), 3u);
    EXPECT_EQ(words[0]["keyword"].text, "vote");
    EXPECT_FALSE(words[0].has("keywordBase64"));
    // A word that is not UTF-8 comes as its characters read as ISO 8859-1, and exactly in Base64.
    EXPECT_EQ(words[1]["keyword"].text, "v\xc3\xa4rld");
    EXPECT_EQ(words[1]["keywordBase64"].text, "duRybGQ=");

    std::ostringstream more;
    JsonResultWriter other(&more);
    other.changed({"addClass", "news", {"a", "b"}});
    other.trained({"train", "news", "a", 3, 30, 1, 0.25});
    other.information("news", {"c1", {{"a", 1, 2}}});
    std::istringstream lines(more.str());
    std::string line;
    std::getline(lines, line);
    const Json change = JsonReader::parse(line);
    EXPECT_EQ(change["action"].text, "addClass");
    EXPECT_EQ(change["classes"][1].text, "b");
    std::getline(lines, line);
    const Json trained = JsonReader::parse(line);
    EXPECT_EQ(trained["texts"].number, 3);
    EXPECT_EQ(trained["bytes"].number, 30);
    EXPECT_EQ(trained["className"].text, "a");
    std::getline(lines, line);
    EXPECT_EQ(JsonReader::parse(line)["classes"][0]["totalCount"].number, 2);
}

TEST(JsonResultWriterTest, AnErrorReplacesTheTextsCollectedSoFar) {
    std::ostringstream out;
    JsonResultWriter writer(&out);
    writer.beginTexts(3);
    writer.classification("a", Classified);
    writer.error(4000, "Bad \"class\"\n\ttab \x01");
    const Json error = JsonReader::parse(out.str());
    EXPECT_FALSE(error["success"].boolean);
    EXPECT_EQ(error["statusCode"].number, 4000);
    EXPECT_EQ(error["message"].text, "Bad \"class\"\n\ttab \x01");
}

TEST(JsonResultWriterTest, StringsKeepUtf8AndEscapeTheRest) {
    EXPECT_EQ(jsonString("\xc3\xa9\xe2\x82\xac"), "\"\xc3\xa9\xe2\x82\xac\"");
    EXPECT_EQ(jsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
    EXPECT_EQ(jsonString("\xff\x7f"), "\"\\u00ff\\u007f\"");
    EXPECT_TRUE(isUtf8("\xf0\x9f\x98\x80"));
    EXPECT_FALSE(isUtf8("\xf0\x9f\x98"));
    EXPECT_FALSE(isUtf8("\xc0\x80"));
}

}  // namespace
}  // namespace norvale::quillmark::client
