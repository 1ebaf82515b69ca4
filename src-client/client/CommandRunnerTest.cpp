#include "client/CommandRunner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client/ClientTestSupport.h"
#include "io/filesystem/TempFolder.h"

namespace norvale::quillmark::client {
namespace {

using test::ClientRun;
using test::FakeServer;
using test::Json;
using test::JsonReader;
using test::PlayingServer;
using test::runQuillmark;

std::string allBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

// A folder of `count` files of about `size` bytes, named so that path order is creation order.
std::vector<std::string> writeFolder(const io::filesystem::test::TempFolder& temp,
                                     const std::string& folder, int count, std::size_t size) {
    std::filesystem::create_directories(temp.path(folder + "/sub"));
    std::vector<std::string> contents;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%s/%s%04d.txt", folder.c_str(), i % 3 == 0 ? "sub/" : "",
                      i);
        std::string text = "text " + std::to_string(i) + " ";
        while (text.size() < size) text += static_cast<char>('a' + (i + text.size()) % 26);
        temp.write(name, text);
        contents.push_back(text);
    }
    return contents;
}

TEST(CommandRunnerTest, SimpleCommandsSendOneRequestEach) {
    PlayingServer server;
    EXPECT_EQ(runQuillmark(server.port(), {"create", "news"}).out, "Created classifier 'news'.\n");
    const ClientRun add = runQuillmark(server.port(), {"add-class", "news", "sport", "a&b"});
    EXPECT_EQ(add.status, exitStatus::Success);
    EXPECT_EQ(add.out,
              "Added class 'sport' to classifier 'news'.\n"
              "Added class 'a&b' to classifier 'news'.\n");
    EXPECT_EQ(runQuillmark(server.port(), {"remove-class", "news", "sport"}).status, 0);
    EXPECT_EQ(runQuillmark(server.port(), {"remove", "news"}).status, 0);
    const ClientRun info = runQuillmark(server.port(), {"info", "news"});
    EXPECT_EQ(info.out,
              "class  unique features  total count\n"
              "alpha               10           30\n"
              "beta                20           60\n"
              "gamma               30           90\n");

    EXPECT_EQ(server.requests().size(), 5u);
    const std::vector<test::SeenCall> calls = server.calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].call, "create");
    EXPECT_EQ(calls[1].call, "addClass");
    EXPECT_EQ(calls[2].className, "a&b");
    EXPECT_EQ(calls[3].call, "removeClass");
    EXPECT_EQ(calls[4].call, "remove");
    EXPECT_EQ(calls[5].call, "getInformation");
    for (const test::SeenCall& call : calls) EXPECT_EQ(call.classifierName, "news");
}

// Many files go in requests of bounded size, each validated by the playing server; every text
// arrives once, in path order, with its bytes unchanged.
TEST(CommandRunnerTest, ManyFilesAreTrainedInBoundedRequests) {
    io::filesystem::test::TempFolder temp;
    const std::vector<std::string> contents = writeFolder(temp, "corpus", 60, 300);
    const std::string big = temp.write("big.txt", std::string(5000, 'z'));
    PlayingServer server;
    const std::size_t bound = 2048;
    const ClientRun run =
        runQuillmark(server.port(), {"--max-request", std::to_string(bound), "train", "news",
                                     "sport", temp.path("corpus"), big});
    ASSERT_EQ(run.status, exitStatus::Success) << run.err;

    const std::vector<std::string> requests = server.requests();
    std::size_t sizeOfAll = 0;
    for (std::size_t i = 0; i + 1 < requests.size(); ++i) {
        EXPECT_LE(requests[i].size(), bound);
        sizeOfAll += requests[i].size();
    }
    // The big text overflows any bound and travels alone.
    EXPECT_GT(requests.back().size(), bound);
    EXPECT_EQ(requests.back().find("t2"), std::string::npos);
    // Filled: three of these texts fit under the bound, and requests are nearly full.
    EXPECT_EQ(requests.size() - 1, 60u / 3);
    EXPECT_GT(sizeOfAll, (requests.size() - 2) * bound * 3 / 4);

    // Path order: the sub-folder sorts after the top-level files.
    std::vector<std::string> expected;
    for (int i = 0; i < 60; ++i)
        if (i % 3 != 0) expected.push_back(contents[i]);
    for (int i = 0; i < 60; ++i)
        if (i % 3 == 0) expected.push_back(contents[i]);
    expected.push_back(std::string(5000, 'z'));
    const std::vector<test::SeenCall> calls = server.calls();
    ASSERT_EQ(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].call, "train");
        EXPECT_EQ(calls[i].className, "sport");
        EXPECT_EQ(calls[i].text, expected[i]) << i;
    }
    EXPECT_EQ(run.out, "Trained 61 texts (22.5 KB) into class 'sport' of classifier 'news' in " +
                           std::to_string(requests.size()) + " requests.\n");
    // Off a terminal: no bar.
    EXPECT_EQ(run.err, "");
}

TEST(CommandRunnerTest, BytesThatAreNotUtf8TravelUnchanged) {
    io::filesystem::test::TempFolder temp;
    const std::string file = temp.write("binary.txt", allBytes());
    PlayingServer server;
    EXPECT_EQ(runQuillmark(server.port(), {"untrain", "news", "x", file}).status, 0);
    const std::string latin1 = "sm\xf6rg\xe5s \xe4r gott";
    EXPECT_EQ(runQuillmark(server.port(), {"classify", "news", "-"}, latin1).status, 0);
    const ClientRun words = runQuillmark(server.port(), {"keywords", "news"}, latin1);
    EXPECT_EQ(words.status, 0);
    // The playing server returns the first word as a keyword; the response document carries
    // its bytes that are no UTF-8 as '?'.
    EXPECT_EQ(words.out, "0.9          alpha  sm?rg?s\n");
    const std::vector<test::SeenCall> calls = server.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].call, "untrain");
    EXPECT_EQ(calls[0].text, allBytes());
    EXPECT_EQ(calls[1].text, latin1);
    EXPECT_EQ(calls[2].call, "classifyKeywords");
}

TEST(CommandRunnerTest, ClassifyPrintsEachTextSortedAndJsonParses) {
    io::filesystem::test::TempFolder temp;
    const std::string a = temp.write("a.txt", "first");
    const std::string b = temp.write("b.txt", "second");
    PlayingServer server;
    const ClientRun text = runQuillmark(server.port(), {"classify", "news", a, b});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, a +
                            ":\n  beta   0.7\n  alpha  0.25\n  gamma  0.05\n"
                            "  text coverage: 0.5\n\n" +
                            b +
                            ":\n  beta   0.7\n  alpha  0.25\n  gamma  0.05\n"
                            "  text coverage: 0.5\n");
    // Off a terminal a summary of the run goes to the error stream.
    EXPECT_EQ(text.err.rfind("Classified 2 files, 11 B in 1 request, ", 0), 0u) << text.err;

    const ClientRun json =
        runQuillmark(server.port(), {"--json", "--version", "1.00", "classify", "news", a, b});
    const Json parsed = JsonReader::parse(json.out);
    ASSERT_EQ(parsed.items.size(), 2u);
    EXPECT_EQ(parsed[1]["source"].text, b);
    EXPECT_FALSE(parsed[1].has("textCoverage"));  // version 1.00
    EXPECT_EQ(parsed[1]["classes"][0]["className"].text, "beta");
    EXPECT_EQ(parsed[1]["classes"][2]["className"].text, "gamma");
}

TEST(CommandRunnerTest, AnErrorDocumentEndsWithStatusOneAndTheWholeMessage) {
    std::string message =
        "Trying to classify a text before any classes have been added!\n"
        "Call id: c1\nReadCall: classify\n\nOne of the read calls failed. <&>";
    message += std::string(5000, '.');
    FakeServer server([&](const std::string&) { return test::errorDocument(4000, message); });
    const ClientRun run = runQuillmark(server.port(), {"classify", "news"}, "text");
    EXPECT_EQ(run.status, exitStatus::ErrorDocument);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quillmark: the server answered with status 4000:\n" + message + "\n");

    const ClientRun json = runQuillmark(server.port(), {"--json", "info", "news"});
    EXPECT_EQ(json.status, exitStatus::ErrorDocument);
    const Json error = JsonReader::parse(json.out);
    EXPECT_EQ(error["statusCode"].number, 4000);
    EXPECT_EQ(error["message"].text, message);
}

// Answers to requests in flight together come back in reverse order; the output keeps the
// order of the files, as one request at a time gives it.
TEST(CommandRunnerTest, AnswersArrivingOutOfOrderArePrintedInInputOrder) {
    io::filesystem::test::TempFolder temp;
    writeFolder(temp, "corpus", 8, 50);
    // Each text alone in its request: eight requests, answered in pairs swapped.
    const std::vector<std::string> words = {"--max-request", "1", "classify", "news",
                                            temp.path("corpus")};
    PlayingServer plain;
    std::vector<std::string> oneAtATime = {"--parallel", "1"};
    oneAtATime.insert(oneAtATime.end(), words.begin(), words.end());
    const ClientRun expected = runQuillmark(plain.port(), oneAtATime);
    ASSERT_EQ(expected.status, 0) << expected.err;

    PlayingServer swapping;
    swapping.holdBackAnswers();
    std::vector<std::string> parallel = {"--parallel", "4"};
    parallel.insert(parallel.end(), words.begin(), words.end());
    const ClientRun text = runQuillmark(swapping.port(), parallel);
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, expected.out);
    EXPECT_EQ(text.err.rfind("Classified 8 files, 400 B in 8 requests, ", 0), 0u) << text.err;

    oneAtATime.insert(oneAtATime.begin(), "--json");
    parallel.insert(parallel.begin(), "--json");
    const std::string json = runQuillmark(swapping.port(), parallel).out;
    EXPECT_EQ(json, runQuillmark(plain.port(), oneAtATime).out);
    EXPECT_EQ(JsonReader::parse(json).items.size(), 8u);
}

// A failed batch stops the command; the batches the server acknowledged, before it or in flight
// beside it, stay trained and are counted in the message.
TEST(CommandRunnerTest, AFailedBatchSaysHowMuchWasTrained) {
    struct Case {
        const char* parallel;
        std::size_t requestsSent;
        const char* trainedBy;
    };
    for (const Case& c : {Case{"1", 3, "earlier"}, Case{"3", 5, "the other"}}) {
        SCOPED_TRACE(c.parallel);
        io::filesystem::test::TempFolder temp;
        const std::vector<std::string> contents = writeFolder(temp, "corpus", 30, 200);
        PlayingServer server;
        // The third request: four texts a request, the files of the top folder first.
        server.failText(contents[13], 4000,
                        "The classifier has reached the maximum allowed size of 10 bytes.");
        const ClientRun run =
            runQuillmark(server.port(), {"--parallel", c.parallel, "--max-request", "1500",
                                         "train", "news", "a", temp.path("corpus")});
        EXPECT_EQ(run.status, exitStatus::ErrorDocument);
        EXPECT_EQ(server.requests().size(), c.requestsSent);
        std::size_t trained = 0;
        for (const test::SeenCall& call : server.calls()) trained += call.call == "train";
        EXPECT_EQ(run.err, "quillmark: " + std::to_string(trained) + " of 30 texts were trained by " +
                               c.trainedBy +
                               " requests; the failed request changed nothing.\nquillmark: the "
                               "server answered with status 4000:\nThe classifier has reached the "
                               "maximum allowed size of 10 bytes.\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST(CommandRunnerTest, NoServerOrNoResponseDocumentEndsWithStatusThree) {
    std::uint16_t closedPort;
    {
        FakeServer gone([](const std::string&) { return std::string(); });
        closedPort = gone.port();
    }
    const ClientRun refused = runQuillmark(closedPort, {"info", "news"});
    EXPECT_EQ(refused.status, exitStatus::Unreachable);
    EXPECT_EQ(refused.err,
              "quillmark: cannot connect to the server at localhost:" + std::to_string(closedPort) +
                  ": Connection refused. Error code: 111.\n");

    FakeServer silent([](const std::string&) { return std::string(); });
    const ClientRun nothing = runQuillmark(silent.port(), {"create", "news"});
    EXPECT_EQ(nothing.status, exitStatus::Unreachable);
    EXPECT_EQ(nothing.err, "quillmark: the server at localhost:" + std::to_string(silent.port()) +
                               " closed the connection without an answer.\n");

    FakeServer web([](const std::string&) { return std::string("HTTP/1.0 200 OK\r\n\r\nhi"); });
    const ClientRun garbage = runQuillmark(web.port(), {"create", "news"});
    EXPECT_EQ(garbage.status, exitStatus::Unreachable);
    EXPECT_NE(garbage.err.find("gave no response document."), std::string::npos);

    // A success document without the results the request asked for.
    FakeServer forgetful([](const std::string&) {
        return XmlResponseImpl(test::ResponseNamespace, RequestVersion::parse("1.01"))
            .getResponse();
    });
    EXPECT_EQ(runQuillmark(forgetful.port(), {"create", "news"}).status, exitStatus::ErrorDocument);
}

TEST(CommandRunnerTest, UsageErrorsAndUnreadableFilesEndWithStatusTwo) {
    PlayingServer server;
    const ClientRun unknown = runQuillmark(server.port(), {"classify"});
    EXPECT_EQ(unknown.status, exitStatus::Usage);
    EXPECT_EQ(unknown.err,
              "quillmark: Wrong number of arguments for classify. Usage: quillmark classify NAME "
              "[FILE...|-]\nTry 'quillmark --help'.\n");
    const ClientRun missing =
        runQuillmark(server.port(), {"train", "news", "a", "/nonexistent/x.txt"});
    EXPECT_EQ(missing.status, exitStatus::Usage);
    EXPECT_EQ(missing.err,
              "quillmark: Cannot read '/nonexistent/x.txt': No such file or directory.\n");
    io::filesystem::test::TempFolder temp;
    std::filesystem::create_directories(temp.path("empty/sub"));
    const ClientRun empty = runQuillmark(server.port(), {"classify", "news", temp.path("empty")});
    EXPECT_EQ(empty.status, exitStatus::Usage);
    EXPECT_EQ(empty.err, "quillmark: The folder '" + temp.path("empty") + "' holds no files.\n");
    EXPECT_TRUE(server.requests().empty());
    const ClientRun help = runQuillmark(server.port(), {"--help"});
    EXPECT_EQ(help.status, exitStatus::Success);
    EXPECT_EQ(help.out, UsageText);
}

TEST(CommandRunnerTest, SendPassesTheDocumentAsItIs) {
    const std::string request = "<not even=\"xml\"\x01\xff";
    const std::string answer = test::errorDocument(4000, "Validation of an request failed.");
    FakeServer server([&](const std::string&) { return answer; });
    const ClientRun run = runQuillmark(server.port(), {"send", "-"}, request);
    EXPECT_EQ(server.requests(), std::vector<std::string>{request});
    EXPECT_EQ(run.status, exitStatus::ErrorDocument);
    EXPECT_EQ(run.out, answer + "\n");
    EXPECT_EQ(run.err,
              "quillmark: the server answered with status 4000:\nValidation of an request "
              "failed.\n");

    PlayingServer playing;
    io::filesystem::test::TempFolder temp;
    RequestBuilder builder("1.01", nullptr);
    builder.setWriteClassifier("news");
    builder.create();
    const ClientRun json = runQuillmark(
        playing.port(), {"--json", "send", temp.write("request.xml", builder.build())});
    EXPECT_EQ(json.status, exitStatus::Success);
    const Json parsed = JsonReader::parse(json.out);
    EXPECT_TRUE(parsed["success"].boolean);
    EXPECT_EQ(parsed["writeCalls"][0]["call"].text, "create");
    EXPECT_EQ(parsed["writeCalls"][0]["id"].text, "c1");
}

TEST(CommandRunnerTest, ATerminalShowsTheBarWhileTextsAreSent) {
    io::filesystem::test::TempFolder temp;
    writeFolder(temp, "corpus", 20, 100);
    PlayingServer server;
    const ClientRun run = runQuillmark(
        server.port(), {"--max-request", "1000", "train", "news", "a", temp.path("corpus")}, "",
        true);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("\r[########################] 20/20 files  2.0 KB/2.0 KB"),
              std::string::npos)
        << run.err;
    // The last thing on the terminal line is the blanked bar, so the prompt starts clean.
    EXPECT_EQ(run.err.back(), '\r');
}

}  // namespace
}  // namespace norvale::quillmark::client
