// The client against the server's request execution on a free port: in this process behind the
// thread server with its client connections, and (when the build has it) the quillmarkserver
// executable.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "client/CommandRunner.h"
#include "client/ExecutingServerTestSupport.h"
#ifdef QM_WITH_SERVER_PROCESS
#include "client/RealServerTestSupport.h"
#endif
#include "io/filesystem/TempFolder.h"

namespace norvale::quillmark::client {
namespace {

using test::ClientRun;
using test::Json;
using test::JsonReader;
#ifdef QM_WITH_SERVER_PROCESS
using ServerKinds =
    ::testing::Types<test::ConnectionServer, test::ServerProcess>;
#else
using ServerKinds = ::testing::Types<test::ConnectionServer>;
#endif

template <typename Server>
class ClientServerTest : public ::testing::Test {
protected:
    ClientRun quillmark(std::vector<std::string> words, const std::string& input = "") {
        return test::runQuillmark(this->_server.port(), std::move(words), input);
    }

    // Runs a command that must succeed.
    std::string ok(std::vector<std::string> words, const std::string& input = "") {
        const ClientRun run = this->quillmark(words, input);
        EXPECT_EQ(run.status, exitStatus::Success) << words.front() << ": " << run.err;
        return run.out;
    }

    // class name -> {unique features, total count}, read with info --json.
    std::map<std::string, std::pair<double, double>> counts(const std::string& classifier) {
        const Json info = JsonReader::parse(this->ok({"--json", "info", classifier}));
        std::map<std::string, std::pair<double, double>> result;
        for (const Json& entry : info["classes"].items) {
            result[entry["className"].text] = {entry["uniqueFeatures"].number,
                                               entry["totalCount"].number};
        }
        return result;
    }

    Server _server;
    io::filesystem::test::TempFolder _temp;
};

TYPED_TEST_SUITE(ClientServerTest, ServerKinds);

const std::string SportText =
    "The striker scored twice and the goalkeeper saved a penalty in the cup match. The coach "
    "praised the team after the final whistle of the league game.";
const std::string PoliticsText =
    "The minister presented the budget to parliament and the opposition promised to vote "
    "against the bill. The government wants to raise taxes before the election.";

TYPED_TEST(ClientServerTest, EverySubCommandRoundTrips) {
    EXPECT_EQ(this->ok({"create", "news"}), "Created classifier 'news'.\n");
    EXPECT_EQ(this->ok({"add-class", "news", "sport", "politics", "weather"}),
              "Added class 'sport' to classifier 'news'.\n"
              "Added class 'politics' to classifier 'news'.\n"
              "Added class 'weather' to classifier 'news'.\n");
    EXPECT_EQ(this->ok({"remove-class", "news", "weather"}),
              "Removed class 'weather' from classifier 'news'.\n");
    EXPECT_EQ(this->counts("news").size(), 2u);
    EXPECT_EQ(this->counts("news")["sport"].second, 0);

    const std::string sport = this->_temp.write("sport.txt", SportText);
    const std::string politics = this->_temp.write("politics.txt", PoliticsText);
    EXPECT_EQ(this->ok({"train", "news", "sport", sport}),
              "Trained 1 text (148 B) into class 'sport' of classifier 'news' in 1 request.\n");
    this->ok({"train", "news", "politics", "-"}, PoliticsText);
    const auto trained = this->counts("news");
    EXPECT_GT(trained.at("sport").first, 0);
    EXPECT_GT(trained.at("politics").second, trained.at("politics").first - 1);

    // Most likely first, with the text coverage of version 1.01.
    const std::string classified =
        this->ok({"classify", "news", "-"}, "the striker and the goalkeeper of the team");
    EXPECT_EQ(classified.rfind("sport ", 0), 0u) << classified;
    EXPECT_NE(classified.find("\npolitics  "), std::string::npos) << classified;
    EXPECT_NE(classified.find("text coverage: "), std::string::npos) << classified;
    const std::string old = this->ok({"--version", "1.00", "classify", "news", politics});
    EXPECT_EQ(old.rfind("politics  ", 0), 0u) << old;
    EXPECT_EQ(old.find("text coverage"), std::string::npos);

    const std::string keywords = this->ok({"keywords", "news", "-"}, "goalkeeper budget");
    EXPECT_NE(keywords.find("sport     goalkeeper\n"), std::string::npos) << keywords;
    EXPECT_NE(keywords.find("politics  budget\n"), std::string::npos) << keywords;

    // Untraining the same text takes exactly its counts back out.
    this->ok({"untrain", "news", "sport", sport});
    EXPECT_EQ(this->counts("news")["sport"], (std::pair<double, double>{0, 0}));
    EXPECT_EQ(this->counts("news")["politics"], trained.at("politics"));

    RequestBuilder request("1.01", nullptr);
    request.getInformation("news");
    const ClientRun sent =
        this->quillmark({"send", this->_temp.write("request.xml", request.build())});
    EXPECT_EQ(sent.status, exitStatus::Success);
    EXPECT_NE(sent.out.find("<getInformation id=\"c1\">"), std::string::npos) << sent.out;

    EXPECT_EQ(this->ok({"remove", "news"}), "Removed classifier 'news'.\n");
    EXPECT_EQ(this->quillmark({"info", "news"}).status, exitStatus::ErrorDocument);
}

TYPED_TEST(ClientServerTest, ErrorDocumentsReachTheUserWhole) {
    this->ok({"create", "news"});
    const ClientRun twice = this->quillmark({"create", "news"});
    EXPECT_EQ(twice.status, exitStatus::ErrorDocument);
    EXPECT_EQ(twice.err.rfind("quillmark: the server answered with status 4000:\n"
                              "Trying to create a classifier that already exists",
                              0),
              0u)
        << twice.err;
    EXPECT_NE(twice.err.find("\nCall id: c1\nWriteCall: create\n\nOne of the write calls failed."),
              std::string::npos)
        << twice.err;

    const ClientRun noClasses = this->quillmark({"classify", "news", "-"}, "text");
    EXPECT_EQ(noClasses.status, exitStatus::ErrorDocument);
    EXPECT_NE(noClasses.err.find("Trying to classify a text before any classes have been added!"),
              std::string::npos)
        << noClasses.err;

    const ClientRun missing = this->quillmark({"--json", "info", "nothere"});
    EXPECT_EQ(missing.status, exitStatus::ErrorDocument);
    const Json error = JsonReader::parse(missing.out);
    EXPECT_EQ(error["statusCode"].number, 4000);
    EXPECT_NE(error["message"].text.find("could not be found"), std::string::npos);
    EXPECT_NE(error["message"].text.find("nothere"), std::string::npos);

    // A name the request schema refuses: the server's validation report.
    const ClientRun invalid = this->quillmark({"create", "../escape"});
    EXPECT_EQ(invalid.status, exitStatus::ErrorDocument);
    EXPECT_NE(invalid.err.find("Validation of an request failed"), std::string::npos);

    this->_server.stop();
    EXPECT_EQ(this->quillmark({"info", "news"}).status, exitStatus::Unreachable);
}

// 2,000 small files in requests of at most 16 KiB give the same classifier as all of them in
// one request.
TYPED_TEST(ClientServerTest, AFolderOfTwoThousandFilesIsTrainedInBoundedRequests) {
    std::filesystem::create_directories(this->_temp.path("corpus/more"));
    std::uint64_t bytes = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = "note " + std::to_string(i) + " word" + std::to_string(i % 97) +
                                 " shared tokens here " + std::to_string(i * 7919 % 1000);
        this->_temp.write((i % 2 ? "corpus/" : "corpus/more/") + std::to_string(i) + ".txt", text);
        bytes += text.size();
    }
    for (const char* classifier : {"bounded", "whole"}) {
        this->ok({"create", classifier});
        this->ok({"add-class", classifier, "notes", "other"});
    }
    const Json bounded =
        JsonReader::parse(this->ok({"--json", "--max-request", "16K", "train", "bounded", "notes",
                                    this->_temp.path("corpus")}));
    EXPECT_EQ(bounded["texts"].number, 2000);
    EXPECT_EQ(bounded["bytes"].number, static_cast<double>(bytes));
    EXPECT_GE(bounded["requests"].number, 10);

    const Json whole = JsonReader::parse(this->ok(
        {"--json", "--max-request", "1M", "train", "whole", "notes", this->_temp.path("corpus")}));
    EXPECT_EQ(whole["requests"].number, 1);
    EXPECT_EQ(this->counts("bounded"), this->counts("whole"));
    EXPECT_GT(this->counts("bounded")["notes"].second, 2000 * 5);
}

// ISO 8859-1 text is trained and classified byte for byte; its words come back as keywords with
// each byte that is no UTF-8 as '?', so that the response stays well-formed XML.
TYPED_TEST(ClientServerTest, BytesThatAreNotUtf8AreTrainedAndClassifiedUnchanged) {
    const std::string swedish = "sm\xf6rg\xe5s k\xf6ttbullar \xe4r gott p\xe5 julbordet";
    const std::string english = "meatballs and sandwiches are good at the christmas table";
    this->ok({"create", "food"});
    this->ok({"add-class", "food", "swe", "eng"});
    this->ok({"train", "food", "swe", this->_temp.write("swe.txt", swedish)});
    this->ok({"train", "food", "eng", this->_temp.write("eng.txt", english)});

    EXPECT_EQ(this->ok({"classify", "food", "-"}, "sm\xf6rg\xe5s p\xe5 julbordet").rfind("swe ", 0),
              0u);
    const std::string keywords = this->ok({"keywords", "food", "-"}, "k\xf6ttbullar");
    EXPECT_NE(keywords.find("swe  k?ttbullar\n"), std::string::npos) << keywords;

    const Json parsed =
        JsonReader::parse(this->ok({"--json", "keywords", "food", "-"}, "k\xf6ttbullar"));
    const Json& first = parsed[0]["keywords"][0];
    EXPECT_EQ(first["keyword"].text, "k?ttbullar");
    EXPECT_FALSE(first.has("keywordBase64"));

    // Every byte value at once, untrained again to leave the class as it was.
    std::string allBytes;
    for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
    const auto before = this->counts("food");
    const std::string binary = this->_temp.write("binary.bin", allBytes);
    this->ok({"train", "food", "eng", binary});
    EXPECT_NE(this->counts("food"), before);
    this->ok({"untrain", "food", "eng", binary});
    EXPECT_EQ(this->counts("food"), before);
}

}  // namespace
}  // namespace norvale::quillmark::client
