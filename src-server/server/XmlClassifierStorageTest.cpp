// Request execution over the real repository, classifiers and files: what a committed, a failed
// and a removed write sequence leave in memory and on disk.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "server/XmlClassifierTestSupport.h"

namespace norvale::quillmark {
namespace {

using namespace test;
namespace fs = std::filesystem;

using XmlClassifierStorageTest = StorageFixture;

TEST_F(XmlClassifierStorageTest, CommittedWritesAreStoredAndServeLaterRequests) {
    EXPECT_NE(std::string::npos, createSpam().find(
                                     "\t<writeCalls>\n\t\t<create id=\"w1\"/>\n\t\t<addClass id=\"w2\"/>\n\t\t"
                                     "<addClass id=\"w3\"/>\n\t\t<train id=\"w4\"/>\n\t\t<train "
                                     "id=\"w5\"/>\n\t</writeCalls>"));
    // The file name is the lower-cased classifier name.
    ASSERT_TRUE(files.exists("spam"));
    const std::string classify =
        texts(text("t", "buy cheap pills")) + readCalls(call("classify", "c", "classifierName=\"SPAM\" textId=\"t\""));
    const std::string classified = run(classify);
    EXPECT_NE(std::string::npos, classified.find("<class className=\"bad\" p=\"")) << classified;
    // What was committed is what a restarted server loads from the file.
    EXPECT_EQ(classified, process(request(classify), false, files.make().get()));

    // Read calls run before the write calls of their request and do not see them.
    const std::string before = information();
    const std::string both = run(texts(text("t", "more words here")) +
                                 readCalls(call("getInformation", "i", "classifierName=\"Spam\"")) +
                                 writeCalls("spam", call("train", "w", "className=\"good\" textId=\"t\"")));
    EXPECT_EQ(2000, statusOf(both)) << both;
    EXPECT_EQ(before.substr(0, before.find("</readCalls>")), both.substr(0, both.find("</readCalls>")));
    EXPECT_NE(before, information());

    EXPECT_EQ("Trying to create a classifier that already exists (in memory) '" + root +
                  "/sPaM.dat'.\nCall id: c\nWriteCall: create" + WriteCallsTail,
              messageOf(run(writeCalls("sPaM", call("create", "c")))));
}

// A request of many texts and calls, a class removed between its trains, stores the bytes that
// the same calls store when every train and untrain is compacted at once.
TEST_F(XmlClassifierStorageTest, BulkRequestStoresWhatCompactingEveryCallStores) {
    const auto reference = RealClassifiers.create();
    std::vector<std::string> classes = {"a", "b", "c"};
    std::string textElements;
    std::string calls = call("create", "create");
    for (const std::string& name : classes) {
        calls += call("addClass", "add" + name, "className=\"" + name + "\"");
        reference->addClass(name);
    }
    std::mt19937 random(7);
    std::vector<std::string> written;
    for (int i = 0; i < 1200; ++i) {
        std::string words = "w" + std::to_string(random() % 40);
        for (unsigned more = random() % 8; more > 0; --more) words += " w" + std::to_string(random() % 40);
        textElements += text("t" + std::to_string(i), words);
        written.push_back(words);
        if (i == 500) {
            calls += call("removeClass", "remove", "className=\"b\"");
            reference->removeClass("b");
            classes.erase(classes.begin() + 1);
        }
        const std::string name = classes[random() % classes.size()];
        const bool untrain = i % 5 == 4;
        const std::size_t used = untrain ? random() % written.size() : written.size() - 1;
        calls += call(untrain ? "untrain" : "train", "call" + std::to_string(i),
                      "className=\"" + name + "\" textId=\"t" + std::to_string(used) + "\"");
        untrain ? reference->untrain(name, written[used]) : reference->train(name, written[used]);
        reference->compact();
    }
    ASSERT_EQ(2000, statusOf(run(texts(textElements) + writeCalls("Bulk", calls))));
    EXPECT_EQ(reference->getTrainingData(), files.content("bulk"));
}

// A failing call undoes the calls before it, on a new classifier and on a stored one; a remove
// takes effect only when its sequence commits.
TEST_F(XmlClassifierStorageTest, FailedWriteCallLeavesNoTraceOfTheSequence) {
    const std::string failed = run(
        texts(text("g", "cheap pills")) +
        writeCalls("Fresh", call("create", "w1") + call("addClass", "w2", "className=\"bad\"") +
                                call("train", "w3", "className=\"bad\" textId=\"g\"") +
                                call("addClass", "w4", "className=\"bad\"")));
    EXPECT_EQ(4000, statusOf(failed));
    EXPECT_NE(std::string::npos, messageOf(failed).find("\nCall id: w4\nWriteCall: addClass" + WriteCallsTail));
    EXPECT_EQ(0u, files.repository->count());
    EXPECT_TRUE(fs::is_empty(root));
    EXPECT_EQ(4000, statusOf(information("Fresh")));

    createSpam();
    const std::string stored = files.content("spam");
    const std::string before = information();
    const std::string undone = run(writeCalls("Spam", call("addClass", "a1", "className=\"other\"") +
                                                          call("removeClass", "a2", "className=\"good\"") +
                                                          call("addClass", "a3", "className=\"bad\"")));
    EXPECT_NE(std::string::npos, messageOf(undone).find("\nCall id: a3\nWriteCall: addClass\n"));
    const std::string marked = run(writeCalls("Spam", call("remove", "r") + call("addClass", "a", "className=\"o\"")));
    EXPECT_EQ("Trying to get a classifier that has been marked for deletion '" + root +
                  "/Spam.dat'.\nCall id: a\nWriteCall: addClass" + WriteCallsTail,
              messageOf(marked));
    EXPECT_EQ(before, information());
    EXPECT_EQ(stored, files.content("spam"));
    EXPECT_TRUE(log.entries().empty());

    EXPECT_NE(std::string::npos, run(writeCalls("Spam", call("remove", "r"))).find("<remove id=\"r\"/>"));
    EXPECT_FALSE(files.exists("spam"));
    EXPECT_EQ(4000, statusOf(information()));
    EXPECT_EQ(2000, statusOf(run(writeCalls("Never", call("remove", "r")))));
    EXPECT_TRUE(fs::is_empty(root));
}

TEST_F(XmlClassifierStorageTest, TrainingStopsAtTheStoredSizeLimit) {
    createSpam();
    const std::string size = std::to_string(fs::file_size(files.key("spam")));
    const auto limited = [&](const std::string& name, const std::string& calls, const std::string& max) {
        return run(texts(text("t", "x")) + writeCalls(name, calls, " maxSize=\"" + max + "\""));
    };
    const std::string train = call("train", "t1", "className=\"bad\" textId=\"t\"");
    EXPECT_EQ("The classifier has reached the maximum allowed size of " + size +
                  " bytes.\nCall id: t1\nWriteCall: train" + WriteCallsTail,
              messageOf(limited("Spam", train, size)));
    EXPECT_EQ(2000, statusOf(limited("Spam", train, std::to_string(std::stoul(size) + 1))));
    // Untraining is never limited, nor a classifier created in the same request.
    EXPECT_EQ(2000, statusOf(limited("Spam", call("untrain", "u", "className=\"bad\" textId=\"t\""), "1")));
    EXPECT_EQ(2000, statusOf(limited("New", call("create", "c") + call("addClass", "a", "className=\"n\"") +
                                                 call("train", "t", "className=\"n\" textId=\"t\""),
                                     "1")));
}

}  // namespace
}  // namespace norvale::quillmark
