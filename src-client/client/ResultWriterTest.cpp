#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "client/ClientTestSupport.h"
#include "client/JsonResultWriter.h"
#include "client/TextResultWriter.h"

namespace norvale::quillmark::client {
namespace {

using test::item;
using test::Json;
using test::parseJson;

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

// The sentences of create, add-class and the singular training line are checked end to end.
TEST(TextResultWriterTest, TrainingAndInformationReadAsSentencesAndColumns) {
    std::ostringstream out;
    TextResultWriter writer(&out);
    writer.changed({"removeClass", "news", {"sport"}});
    writer.trained({"train", "news", "sport", 2000, 3 * 1024 * 1024, 7, 1.5});
    writer.trained({"untrain", "news", "sport", 1, 10, 1, 0.1});
    writer.information("news", {"c1", {{"sport", 1234, 56789}, {"a-much-longer-name", 1, 2}}});
    writer.information("empty", {"c1", {}});
    EXPECT_EQ(out.str(),
              "Removed class 'sport' from classifier 'news'.\n"
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
    const Json texts = parseJson(out.str());
    ASSERT_EQ(texts.size(), 2u);
    const Json& classified = item(texts, 0);
    EXPECT_EQ(classified.get<std::string>("source"), "dir/\"quoted\"\\name\n.txt");
    EXPECT_DOUBLE_EQ(classified.get<double>("textCoverage"), 0.625);
    const Json& classes = classified.get_child("classes");
    ASSERT_EQ(classes.size(), 3u);
    EXPECT_EQ(item(classes, 0).get<std::string>("className"), "beta");
    EXPECT_DOUBLE_EQ(item(classes, 0).get<double>("p"), 0.7);

    const Json& words = item(texts, 1).get_child("keywords");
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(item(words, 0).get<std::string>("keyword"), "vote");
    EXPECT_EQ(item(words, 0).count("keywordBase64"), 0u);
    // A word that is not UTF-8 comes as its characters read as ISO 8859-1, and exactly in Base64.
    EXPECT_EQ(item(words, 1).get<std::string>("keyword"), "v\xc3\xa4rld");
    EXPECT_EQ(item(words, 1).get<std::string>("keywordBase64"), "duRybGQ=");

    // One line per change or training.
    std::ostringstream more;
    JsonResultWriter other(&more);
    other.changed({"addClass", "news", {"a", "b"}});
    other.trained({"train", "news", "a", 3, 30, 1, 0.25});
    std::istringstream lines(more.str());
    std::string line;
    std::getline(lines, line);
    const Json change = parseJson(line);
    EXPECT_EQ(change.get<std::string>("action"), "addClass");
    EXPECT_EQ(item(change.get_child("classes"), 1).get_value<std::string>(), "b");
    std::getline(lines, line);
    const Json trained = parseJson(line);
    EXPECT_EQ(trained.get<int>("texts"), 3);
    EXPECT_EQ(trained.get<int>("bytes"), 30);
}

TEST(JsonResultWriterTest, AnErrorReplacesTheTextsCollectedSoFar) {
    std::ostringstream out;
    JsonResultWriter writer(&out);
    writer.beginTexts(3);
    writer.classification("a", Classified);
    writer.error(4000, "Bad \"class\"\n\ttab \x01");
    const Json error = parseJson(out.str());
    EXPECT_FALSE(error.get<bool>("success"));
    EXPECT_EQ(error.get<int>("statusCode"), 4000);
    EXPECT_EQ(error.get<std::string>("message"), "Bad \"class\"\n\ttab \x01");
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
