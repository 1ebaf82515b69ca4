// The client against a real quillmarkserver on a free port.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "client/CommandRunner.h"
#include "client/RealServerTestSupport.h"
#include "io/filesystem/TempFolder.h"
#include "util/Base64EncoderImpl.h"

namespace norvale::quillmark::client {
namespace {

using test::ClientRun;
using test::Json;
using test::JsonReader;
using test::ServerProcess;

class ClientServerTest : public ::testing::Test {
protected:
    ClientRun quillmark(std::vector<std::string> words, const std::string& input = "") {
        return test::runQuillmark(_server.port(), std::move(words), input);
    }

    // Runs a command that must succeed.
    std::string ok(std::vector<std::string> words, const std::string& input = "") {
        const ClientRun run = quillmark(words, input);
        EXPECT_EQ(run.status, exitStatus::Success) << words.front() << ": " << run.err;
        return run.out;
    }

    // class name -> {unique features, total count}, read with info --json.
    std::map<std::string, std::pair<double, double>> counts(const std::string& classifier) {
        const Json info = JsonReader::parse(ok({"--json", "info", classifier}));
        std::map<std::string, std::pair<double, double>> result;
        for (const Json& entry : info["classes"].items) {
            result[entry["className"].text] = {entry["uniqueFeatures"].number,
                                               entry["totalCount"].number};
        }
        return result;
    }

    ServerProcess _server;
    io::filesystem::test::TempFolder _temp;
};

const std::string SportText =
    "The striker scored twice and the goalkeeper saved a penalty in the cup match. The coach "
    "praised the team after the final whistle of the league game.";
const std::string PoliticsText =
    "The minister presented the budget to parliament and the opposition promised to vote "
    "against the bill. The government wants to raise taxes before the election.";

TEST_F(ClientServerTest, EverySubCommandRoundTrips) {
    EXPECT_EQ(ok({"create", "news"}), "Created classifier 'news'.\n");
    EXPECT_EQ(ok({"add-class", "news", "sport", "politics", "weather"}),
              "Added class 'sport' to classifier 'news'.\n"
              "Added class 'politics' to classifier 'news'.\n"
              "Added class 'weather' to classifier 'news'.\n");
    EXPECT_EQ(ok({"remove-class", "news", "weather"}),
              "Removed class 'weather' from classifier 'news'.\n");
    EXPECT_EQ(counts("news").size(), 2u);
    EXPECT_EQ(counts("news")["sport"].second, 0);

    const std::string sport = _temp.write("sport.txt", SportText);
    const std::string politics = _temp.write("politics.txt", PoliticsText);
    EXPECT_EQ(ok({"train", "news", "sport", sport}),
              "Trained 1 text (145 B) into class 'sport' of classifier 'news' in 1 request.\n");
    ok({"train", "news", "politics", "-"}, PoliticsText);
    const auto trained = counts("news");
    EXPECT_GT(trained.at("sport").first, 0);
    EXPECT_GT(trained.at("politics").second, trained.at("politics").first - 1);

    // Most likely first, with the text coverage of version 1.01.
    const std::string classified =
        ok({"classify", "news", "-"}, "the striker and the goalkeeper of the team");
    EXPECT_EQ(classified.rfind("sport ", 0), 0u) << classified;
    EXPECT_NE(classified.find("\npolitics  "), std::string::npos) << classified;
    EXPECT_NE(classified.find("text coverage: "), std::string::npos) << classified;
    const std::string old = ok({"--version", "1.00", "classify", "news", politics});
    EXPECT_EQ(old.rfind("politics  ", 0), 0u) << old;
    EXPECT_EQ(old.find("text coverage"), std::string::npos);

    const std::string keywords = ok({"keywords", "news", "-"}, "goalkeeper budget");
    EXPECT_NE(keywords.find("sport     goalkeeper\n"), std::string::npos) << keywords;
    EXPECT_NE(keywords.find("politics  budget\n"), std::string::npos) << keywords;

    // Untraining the same text takes exactly its counts back out.
    ok({"untrain", "news", "sport", sport});
    EXPECT_EQ(counts("news")["sport"], (std::pair<double, double>{0, 0}));
    EXPECT_EQ(counts("news")["politics"], trained.at("politics"));

    RequestBuilder request("1.01", nullptr);
    request.getInformation("news");
    const ClientRun sent = quillmark({"send", _temp.write("request.xml", request.build())});
    EXPECT_EQ(sent.status, exitStatus::Success);
    EXPECT_NE(sent.out.find("<getInformation id=\"c1\">"), std::string::npos) << sent.out;

    EXPECT_EQ(ok({"remove", "news"}), "Removed classifier 'news'.\n");
    EXPECT_EQ(quillmark({"info", "news"}).status, exitStatus::ErrorDocument);
}

TEST_F(ClientServerTest, ErrorDocumentsReachTheUserWhole) {
    ok({"create", "news"});
    const ClientRun twice = quillmark({"create", "news"});
    EXPECT_EQ(twice.status, exitStatus::ErrorDocument);
    EXPECT_EQ(twice.err.rfind("quillmark: the server answered with status 4000:\n"
                              "Trying to create a classifier that already exists",
                              0),
              0u)
        << twice.err;
    EXPECT_NE(twice.err.find("\nCall id: c1\nWriteCall: create\n\nOne of the write calls failed."),
              std::string::npos)
        << twice.err;

    const ClientRun noClasses = quillmark({"classify", "news", "-"}, "text");
    EXPECT_EQ(noClasses.status, exitStatus::ErrorDocument);
    EXPECT_NE(noClasses.err.find("Trying to classify a text before any classes have been added!"),
              std::string::npos)
        << noClasses.err;

    const ClientRun missing = quillmark({"--json", "info", "nothere"});
    EXPECT_EQ(missing.status, exitStatus::ErrorDocument);
    const Json error = JsonReader::parse(missing.out);
    EXPECT_EQ(error["statusCode"].number, 4000);
    EXPECT_NE(error["message"].text.find("could not be found"), std::string::npos);
    EXPECT_NE(error["message"].text.find("nothere"), std::string::npos);

    // A name the request schema refuses: the server's validation report.
    const ClientRun invalid = quillmark({"create", "../escape"});
    EXPECT_EQ(invalid.status, exitStatus::ErrorDocument);
    EXPECT_NE(invalid.err.find("Validation of an request failed"), std::string::npos);

    _server.stop();
    EXPECT_EQ(quillmark({"info", "news"}).status, exitStatus::Unreachable);
}

// 2,000 small files in requests of at most 16 KiB give the same classifier as all of them in
// one request.
TEST_F(ClientServerTest, AFolderOfTwoThousandFilesIsTrainedInBoundedRequests) {
    std::filesystem::create_directories(_temp.path("corpus/more"));
    std::uint64_t bytes = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = "note " + std::to_string(i) + " word" + std::to_string(i % 97) +
                                 " shared tokens here " + std::to_string(i * 7919 % 1000);
        _temp.write((i % 2 ? "corpus/" : "corpus/more/") + std::to_string(i) + ".txt", text);
        bytes += text.size();
    }
    for (const char* classifier : {"bounded", "whole"}) {
        ok({"create", classifier});
        ok({"add-class", classifier, "notes", "other"});
    }
    const Json bounded = JsonReader::parse(
        ok({"--json", "--max-request", "16K", "train", "bounded", "notes", _temp.path("corpus")}));
    EXPECT_EQ(bounded["texts"].number, 2000);
    EXPECT_EQ(bounded["bytes"].number, static_cast<double>(bytes));
    EXPECT_GE(bounded["requests"].number, 10);

    const Json whole = JsonReader::parse(
        ok({"--json", "--max-request", "1M", "train", "whole", "notes", _temp.path("corpus")}));
    EXPECT_EQ(whole["requests"].number, 1);
    EXPECT_EQ(counts("bounded"), counts("whole"));
    EXPECT_GT(counts("bounded")["notes"].second, 2000 * 5);
}

TEST_F(ClientServerTest, ClassifyJsonIsParsedAndSorted) {
    ok({"create", "news"});
    ok({"add-class", "news", "sport", "politics"});
    ok({"train", "news", "sport", "-"}, SportText);
    ok({"train", "news", "politics", "-"}, PoliticsText);
    const std::string a = _temp.write("a.txt", "the minister and the opposition vote on taxes");
    const std::string b = _temp.write("b.txt", "the goalkeeper saved a penalty");
    const Json result = JsonReader::parse(ok({"--json", "classify", "news", a, b}));
    ASSERT_EQ(result.items.size(), 2u);
    EXPECT_EQ(result[0]["source"].text, a);
    EXPECT_EQ(result[0]["classes"][0]["className"].text, "politics");
    EXPECT_EQ(result[1]["classes"][0]["className"].text, "sport");
    for (const Json& text : result.items) {
        EXPECT_GE(text["classes"][0]["p"].number, text["classes"][1]["p"].number);
        EXPECT_GT(text["textCoverage"].number, 0);
        EXPECT_LE(text["textCoverage"].number, 1);
    }
}

// ISO 8859-1 text is trained and classified byte for byte: its words come back as keywords
// with the same bytes.
TEST_F(ClientServerTest, BytesThatAreNotUtf8AreTrainedAndClassifiedUnchanged) {
    const std::string swedish = "sm\xf6rg\xe5s k\xf6ttbullar \xe4r gott p\xe5 julbordet";
    const std::string english = "meatballs and sandwiches are good at the christmas table";
    ok({"create", "food"});
    ok({"add-class", "food", "swe", "eng"});
    ok({"train", "food", "swe", _temp.write("swe.txt", swedish)});
    ok({"train", "food", "eng", _temp.write("eng.txt", english)});

    EXPECT_EQ(ok({"classify", "food", "-"}, "sm\xf6rg\xe5s p\xe5 julbordet").rfind("swe ", 0), 0u);
    const std::string keywords = ok({"keywords", "food", "-"}, "k\xf6ttbullar");
    EXPECT_NE(keywords.find("swe  k\xf6ttbullar\n"), std::string::npos) << keywords;

    const Json parsed = JsonReader::parse(ok({"--json", "keywords", "food", "-"}, "k\xf6ttbullar"));
    const Json& first = parsed[0]["keywords"][0];
    EXPECT_EQ(first["keywordBase64"].text, util::Base64EncoderImpl().encode("k\xf6ttbullar"));

    // Every byte value at once, untrained again to leave the class as it was.
    std::string allBytes;
    for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
    const auto before = counts("food");
    const std::string binary = _temp.write("binary.bin", allBytes);
    ok({"train", "food", "eng", binary});
    EXPECT_NE(counts("food"), before);
    ok({"untrain", "food", "eng", binary});
    EXPECT_EQ(counts("food"), before);
}

}  // namespace
}  // namespace norvale::quillmark::client
