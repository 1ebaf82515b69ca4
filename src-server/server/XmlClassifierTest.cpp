// Request execution: over fake classifiers, which classifiers and texts the calls reach, and how
// every kind of failure becomes an error document; over the real repository, classifiers and
// files, what a committed, a failed and a removed write sequence leave in memory and on disk,
// also when the disk is full (a small tmpfs, which needs root; skipped otherwise).

#include "server/XmlClassifier.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <new>

#include "io/IOException.h"
#include "io/filesystem/FileDescriptor.h"
#include "server/XmlClassifierTestSupport.h"

namespace norvale::quillmark {
namespace {

using namespace test;
using Texts = std::vector<std::string>;
namespace fs = std::filesystem;

class XmlClassifierTest : public ExecutorFixture {};

// How the message of a failed call of a read or a write sequence ends.
std::string ofRead(const std::string& id, const std::string& method) {
    return "\nCall id: " + id + "\nReadCall: " + method +
           "\n\nOne of the read calls failed. Therefore the call sequence was not completed. "
           "Please fix the error and try again.\n";
}
std::string ofWrite(const std::string& id, const std::string& method) {
    return "\nCall id: " + id + "\nWriteCall: " + method +
           "\n\nOne of the write calls failed. Therefore any previous call in the request was "
           "rollbacked to avoid leaving the classifier in an undefined state (transactional "
           "behaviour). Please fix the error and try again.\n";
}

TEST_F(XmlClassifierTest, ReadCallsReachTheClassifierOfTheirNameWithTheirTexts) {
    files.store("spam", fakeData({{"bad", 0}, {"good", 0}}));
    const std::string body =
        texts(text("a", "first a") + text("a", "second a") + text("both", "plain") +
              "<textBase64 id=\"both\">ZW5jb2RlZA==</textBase64><textBase64 "
              "id=\"coded\">aGVsbG8gd29ybGQ=</textBase64>") +
        readCalls(classify("c1", "Spam", "a") + classify("c2", "SPAM", "both") +
                  call("classifyKeywords", "c3", "classifierName=\"spam\" textId=\"coded\"") +
                  getInformation("c4", "Spam"));
    // Repeated text ids pass only the lax schema. The first of two texts with one id; a plain
    // text before an encoded one of the same id.
    const std::string response = run(body, true);
    EXPECT_EQ((Texts{"first a", "plain", "hello world"}), files.memory.texts);
    const std::size_t c1 = response.find("<classify id=\"c1\">"),
                      c2 = response.find("<classify id=\"c2\">"),
                      c3 = response.find("<classifyKeywords id=\"c3\">"),
                      c4 = response.find("<getInformation id=\"c4\">");
    EXPECT_TRUE(c1 < c2 && c2 < c3 && c3 < c4 && c4 != std::string::npos) << response;
    EXPECT_EQ(std::string::npos, response.find("textCoverage")) << "version 1.00";
    EXPECT_TRUE(log.entries().empty());
    // The declared version decides the response's version and its text coverage.
    const std::string newer = process(request(body, "1.010"), true);
    EXPECT_NE(std::string::npos, newer.find(" version=\"1.01\">\n")) << newer;
    EXPECT_NE(std::string::npos, newer.find("<classification textCoverage=\"0.25\">")) << newer;

    // Text ids are literal strings: a quote is an ordinary character, and an id written as an
    // XPath expression finds no other text. An encoded text must be written without prefix.
    const std::string elements =
        texts(text("say &quot;hi&quot;", "quoted") + text("b", "other") +
              "<q:textBase64 xmlns:q=\"" + RequestNamespace + "\" id=\"p\">cHJl</q:textBase64>");
    const std::pair<std::string, std::string> ids[] = {
        {"say &quot;hi&quot;", "quoted"},
        {"a&quot;] | //*[@id=&quot;b", "No text with the id 'a\"] | //*[@id=\"b' was found."},
        {"p", "Unrecognized text element name q:textBase64. textBase64 was expected."},
    };
    for (const auto& [textId, expected] : ids) {
        SCOPED_TRACE(textId);
        files.memory.texts.clear();
        const std::string answer = run(elements + readCalls(classify("c", "Spam", textId)), true);
        if (statusOf(answer) == 2000) {
            EXPECT_EQ(Texts{expected}, files.memory.texts);
        } else {
            EXPECT_EQ(expected + ofRead("c", "classify"), messageOf(answer));
        }
    }
}

// 1.8 / (classes + 1) from two classes on; the real request schema lets version 1.01 through.
TEST_F(XmlClassifierTest, KeywordThresholdDependsOnTheNumberOfClasses) {
    for (const auto& [classes, threshold] :
         {std::pair{Counts{{"one", 1}}, 0.0}, {Counts{{"a", 1}, {"b", 1}}, 0.6}}) {
        files.store("k", fakeData(classes));
        const std::string response = process(request(
            texts(text("t", "x")) +
                readCalls(call("classifyKeywords", "k", "classifierName=\"k\" textId=\"t\"")),
            "1.01"));
        EXPECT_EQ(2000, statusOf(response)) << response;
        EXPECT_DOUBLE_EQ(threshold, files.memory.threshold) << classes.size() << " classes";
        files.restart();
    }
}

// Each request fails on its own: the status, the message (whole when it ends with the tail of
// its call sequence, else its start), and the start of the one log entry it leaves, if any.
// Failures of a call are answered without a log line unless they are the server's own; every
// request is archived first.
TEST_F(XmlClassifierTest, EveryFailureBecomesAnErrorDocument) {
    files.store("here", fakeData({{"good", 1}}));
    files.store("empty", fakeData({}));
    files.store("cold", fakeData({{"good", 1}}));  // fails to load while a failure is set
    const std::string info = getInformation("i", "here");
    const std::string cold = getInformation("i", "cold");
    const std::string invalid = request(readCalls(call("frobnicate", "f")));
    const std::string notNumber =
        "An error occurred when executing a classifier query.\n\nError parsing the string ";
    const struct {
        std::string document;
        int status;
        std::string message;
        std::string logged = "";  // the start of the only log entry, "" for none
        std::function<void()> failure = nullptr;
    } cases[] = {
        {request(texts(text("t", "x")) +
                 readCalls(classify("r1", "here") + classify("r2", "missing") + info)),
         4000,
         "The requested classifier could not be found. '" + root + "/missing.dat'." +
             ofRead("r2", "classify")},
        {request(texts(text("t", "x")) + readCalls(classify("e", "empty"))), 4000,
         "no classes" + ofRead("e", "classify")},
        {request(readCalls(cold)), 5000, "The disk is gone." + ofRead("i", "getInformation"),
         "Error: Caught an exception while iterating calls. Method: getInformation. The disk is "
         "gone.",
         [] { throw io::IOException("The disk is gone."); }},
        {request(readCalls(cold)), 5000,
         "An ATL exception was caught. System error message: " + std::string(std::strerror(ENOMEM)),
         "Error: An ATL exception was caught. System error message: ",
         [] { throw xml::AtlException(ENOMEM); }},
        {invalid, 4000,
         "Validation of an request failed, please verify your that your XML is correct."
         "Problems validating the xml document.\r\n",
         "Log: Validation of an request failed, please verify your that your XML is correct."
         "Problems validating the xml document.\\r\\nError Code: "},
        {"<quillmark", 4000,
         "Caught XMLException exception while trying to read xml parameters. Error when loading "
         "the XML document from the memory.\n\n"},
        {request(readCalls(info), "one"), 5000, notNumber + "[one]",
         "Error: " + notNumber + "[one]"},
        {request(writeCalls("here", call("create", "w"), " maxSize=\"many\"")), 5000,
         notNumber + "[many]", "Error: " + notNumber + "[many]"},
        {request(readCalls(info + call("frobnicate", "f", "classifierName=\"here\""))), 4000,
         "The method frobnicate is not supported in the readCalls sequence." +
             ofRead("f", "frobnicate")},
        {request(writeCalls("here", addClass("w1", "n") + call("train", "w2", "className=\"n\""))),
         4000, "The call train has no attribute 'textId'." + ofWrite("w2", "train")},
    };
    Texts documents;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        log.clear();
        files.loadFile.failure = c.failure;
        const std::string answer = process(c.document, c.document != invalid);
        documents.push_back(c.document);
        EXPECT_EQ(c.status, statusOf(answer)) << answer;
        EXPECT_EQ(c.message, c.message.ends_with("try again.\n")
                                 ? messageOf(answer)
                                 : messageOf(answer).substr(0, c.message.size()));
        const auto entries = log.entries();
        ASSERT_EQ(c.logged.empty() ? 0u : 1u, entries.size());
        for (const std::string& entry : entries) EXPECT_EQ(0u, entry.find(c.logged)) << entry;
    }
    EXPECT_EQ(documents, hooks.saved);

    // What no error document can answer is logged and thrown on to the connection.
    log.clear();
    files.loadFile.failure = [] { throw std::bad_alloc(); };
    EXPECT_THROW(run(readCalls(cold)), std::bad_alloc);
    files.loadFile.failure = [] { throw 42; };
    EXPECT_THROW(run(readCalls(cold)), int);
    files.loadFile.failure = nullptr;
    EXPECT_EQ(
        (Texts{"A std exception occured when trying to read xml parameters, exception type: " +
                   std::string(std::bad_alloc().what()),
               "An unknown ... exception was caught while trying to read xml parameters."}),
        log.texts("Error"));
}

// Only the first sequence element of each kind runs, and two read sequences are no request;
// names that are no plain file names never reach the repository.
TEST_F(XmlClassifierTest, RepeatedSequencesAndUnsafeNamesAreRefused) {
    files.store("c", fakeData({{"good", 1}}));
    const std::string info = readCalls(getInformation("a", "c"));
    const std::string twice = run(info + info, true);
    EXPECT_EQ(5000, statusOf(twice));
    EXPECT_NE(std::string::npos, twice.find(">No calls were found in the response.<")) << twice;
    const std::string writesTwice =
        run(info + writeCalls("c", addClass("x", "n")) + writeCalls("c", addClass("y", "n")), true);
    EXPECT_EQ(2000, statusOf(writesTwice)) << writesTwice;
    EXPECT_EQ(std::string::npos, writesTwice.find("<writeCalls>"));
    EXPECT_EQ(fakeData({{"good", 1}}), files.content("c"));
    files.restart();

    const std::string tooLong(101, 'a');
    for (const std::string name : {"../x", "a\\b", ".hidden", "", "sp ace", tooLong.c_str()}) {
        SCOPED_TRACE(name);
        const std::string start = "The classifier name '" + name +
                                  "' is not allowed. A classifier name has 1 to 100 "
                                  "letters, digits, '_', '-' or '.' and does not begin with '.'.";
        EXPECT_EQ(start + ofRead("r", "getInformation"),
                  messageOf(run(readCalls(getInformation("r", name)), true)));
        EXPECT_EQ(start + ofWrite("w", "create"),
                  messageOf(run(writeCalls(name, call("create", "w")), true)));
    }
    EXPECT_EQ(0u, files.repository->count());
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(root), {}));
    // The longest name allowed, of every kind of character allowed.
    files.store("a-z_0.9" + std::string(93, 'a'), fakeData({{"good", 1}}));
    EXPECT_EQ(2000, statusOf(information("A-z_0.9" + std::string(93, 'a'))));
}

using XmlClassifierStorageTest = StorageFixture;

TEST_F(XmlClassifierStorageTest, CommittedWritesAreStoredAndServeLaterRequests) {
    const std::string created = createSpam();
    EXPECT_NE(std::string::npos, created.find("<create id=\"w1\"/>\n\t\t<addClass id=\"w2\"/>"))
        << created;
    // The file name is the lower-cased classifier name.
    ASSERT_TRUE(files.exists("spam"));
    const std::string reading =
        texts(text("t", "buy cheap pills")) + readCalls(classify("c", "SPAM"));
    const std::string classified = run(reading);
    EXPECT_NE(std::string::npos, classified.find("<class className=\"bad\" p=\"")) << classified;
    // What was committed is what a restarted server loads from the file.
    EXPECT_EQ(classified, process(request(reading), false, files.make().get()));

    // Read calls run before the write calls of their request and do not see them.
    const std::string before = information();
    const std::string both =
        run(texts(text("t", "more words here")) + readCalls(getInformation("i", "Spam")) +
            writeCalls("spam", train("w", "good")));
    EXPECT_EQ(before.substr(0, before.find("</readCalls>")),
              both.substr(0, both.find("</readCalls>")));
    EXPECT_NE(before, information());
}

// Executors on several threads share one repository: a read call waits for a write sequence on
// its classifier and then sees the committed state.
TEST_F(XmlClassifierStorageTest, ReadWaitsForTheWriteSequenceAndSeesItsCommit) {
    createSpam();
    std::promise<void> saving, release;
    std::shared_future<void> released = release.get_future().share();
    files.saveFile.onSave = [&saving, released] {
        saving.set_value();
        released.wait();
    };
    auto written = std::async(std::launch::async,
                              [&] { return run(writeCalls("Spam", addClass("a", "late"))); });
    // The writer now holds the classifier's writer lock inside its commit; both kinds of read
    // call wait for it.
    saving.get_future().wait();
    auto read = std::async(std::launch::async, [&] { return information(); });
    auto classified = std::async(std::launch::async, [&] {
        return run(texts(text("t", "cheap pills")) + readCalls(classify("c", "Spam")));
    });
    EXPECT_EQ(std::future_status::timeout, read.wait_for(std::chrono::milliseconds(100)));
    EXPECT_EQ(std::future_status::timeout, classified.wait_for(std::chrono::milliseconds(0)));
    release.set_value();
    EXPECT_EQ(2000, statusOf(classified.get()));
    EXPECT_NE(std::string::npos, read.get().find("<classInformation className=\"late\">"));
}

// A failing call undoes the calls before it, on a new classifier and on a stored one; a remove
// takes effect only when its sequence commits.
TEST_F(XmlClassifierStorageTest, FailedWriteCallLeavesNoTraceOfTheSequence) {
    const std::string failed =
        run(texts(text("g", "cheap pills")) +
            writeCalls("Fresh", call("create", "w1") + addClass("w2", "bad") +
                                    train("w3", "bad", "g") + addClass("w4", "bad")));
    EXPECT_EQ(4000, statusOf(failed));
    EXPECT_NE(std::string::npos, messageOf(failed).find(ofWrite("w4", "addClass")));
    EXPECT_EQ(0u, files.repository->count());
    EXPECT_TRUE(fs::is_empty(root));
    EXPECT_EQ(4000, statusOf(information("Fresh")));
    // A classifier created and removed by a sequence that then fails goes with the sequence.
    for (const std::string& last : {addClass("w3", "bad"), call("create", "w3")}) {
        EXPECT_EQ(
            4000,
            statusOf(run(writeCalls("Ghost", call("create", "w1") + call("remove", "w2") + last))));
        EXPECT_EQ(0u, files.repository->count());
        EXPECT_EQ(4000, statusOf(information("Ghost")));
    }

    createSpam();
    const std::string stored = files.content("spam");
    const std::string before = information();
    const std::string undone = run(writeCalls(
        "Spam", addClass("a1", "other") + call("removeClass", "a2", "className=\"good\"") +
                    addClass("a3", "bad")));
    EXPECT_NE(std::string::npos, messageOf(undone).find("\nCall id: a3\nWriteCall: addClass\n"));
    // Plain training changes the shared classifier in place; its undo log takes it back.
    const std::string inPlace = run(texts(text("t", "cheap")) +
                                    writeCalls("Spam", train("t1", "bad") + train("t2", "none")));
    EXPECT_NE(std::string::npos, messageOf(inPlace).find("\nCall id: t2\nWriteCall: train\n"))
        << inPlace;
    const std::string marked = run(writeCalls("Spam", call("remove", "r") + addClass("a", "o")));
    EXPECT_EQ("Trying to get a classifier that has been marked for deletion '" + root +
                  "/Spam.dat'." + ofWrite("a", "addClass"),
              messageOf(marked));
    EXPECT_EQ(before, information());
    EXPECT_EQ(stored, files.content("spam"));
    EXPECT_TRUE(log.entries().empty());

    EXPECT_NE(std::string::npos,
              run(writeCalls("Spam", call("remove", "r"))).find("<remove id=\"r\"/>"));
    EXPECT_EQ(4000, statusOf(information()));
    EXPECT_EQ(2000, statusOf(run(writeCalls("Never", call("remove", "r")))));
    EXPECT_TRUE(fs::is_empty(root));
}

TEST_F(XmlClassifierStorageTest, TrainingStopsAtTheStoredSizeLimit) {
    createSpam();
    const std::string size = std::to_string(fs::file_size(files.key("spam")));
    const auto limited = [&](const std::string& name, const std::string& calls,
                             const std::string& max) {
        return run(texts(text("t", "x")) + writeCalls(name, calls, " maxSize=\"" + max + "\""));
    };
    const std::string training = train("t1", "bad");
    EXPECT_EQ("The classifier has reached the maximum allowed size of " + size + " bytes." +
                  ofWrite("t1", "train"),
              messageOf(limited("Spam", training, size)));
    EXPECT_EQ(2000, statusOf(limited("Spam", training, std::to_string(std::stoul(size) + 1))));
    // Untraining is never limited, nor a classifier created in the same request.
    EXPECT_EQ(2000, statusOf(limited("Spam", call("untrain", "u", "className=\"bad\" textId=\"t\""),
                                     "1")));
    EXPECT_EQ(2000, statusOf(limited(
                        "New", call("create", "c") + addClass("a", "n") + train("t", "n"), "1")));
}

// Writes `path` until the file system refuses more; true when it ended full.
bool fill(const std::string& path) {
    io::filesystem::FileDescriptor file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const std::string block(4096, 'f');
    while (file.valid() && ::write(file.get(), block.data(), block.size()) >= 0) {
    }
    return file.valid() && errno == ENOSPC;
}

using XmlClassifierFullDiskTest = StorageFixture;

// The failure is the server's own, so it is logged; the writer lock goes with the failed
// sequence, so the same write succeeds once there is room again.
TEST_F(XmlClassifierFullDiskTest, FailedCommitAnswers5000AndLosesNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    if (::mount("qm_full_disk", root.c_str(), "tmpfs", 0, "size=262144") != 0) {
        GTEST_SKIP() << "could not mount a tmpfs: " << std::strerror(errno);
    }
    const std::shared_ptr<void> unmount(nullptr,
                                        [&](void*) { ::umount2(root.c_str(), MNT_DETACH); });
    createSpam();
    const std::string stored = files.content("spam");
    const std::string before = information();
    ASSERT_TRUE(fill(root + "/filler"));
    const std::string longText =
        texts(text("t", "a long new text with many words never trained before"));
    const std::string training = longText + writeCalls("Spam", train("w1", "good"));
    // A class change works on a copy of the classifier, plain training in place.
    const std::string classChange =
        longText + writeCalls("Spam", train("w1", "good") + addClass("w2", "third"));
    for (const std::string& body :
         {training, classChange, writeCalls("Other", call("create", "w1") + addClass("w2", "x"))}) {
        SCOPED_TRACE(body);
        log.clear();
        const std::string answer = run(body);
        EXPECT_EQ(5000, statusOf(answer)) << answer;
        const std::string lead = "An error occurred when executing a classifier query.\n\n";
        EXPECT_EQ(lead, messageOf(answer).substr(0, lead.size())) << answer;
        ASSERT_EQ(1u, log.texts("Error").size());
        EXPECT_EQ(stored, files.content("spam"));
        // No half-written file is left beside the stored one and the filler.
        EXPECT_EQ(2, std::distance(fs::directory_iterator(root), fs::directory_iterator()));
        EXPECT_EQ(before, information());
        EXPECT_EQ(4000, statusOf(information("Other")));
        EXPECT_EQ(1u, files.repository->count());
    }
    fs::remove(root + "/filler");
    EXPECT_EQ(2000, statusOf(run(training)));
    EXPECT_NE(before, information());
    EXPECT_EQ(information(), information("Spam", files.make().get()));
    // A torn last append is cut off in place: a full disk does not keep the classifier from
    // loading.
    {
        std::fstream journal(root + "/spam.dat.journal",
                             std::ios::in | std::ios::out | std::ios::binary);
        journal.seekp(
            static_cast<std::streamoff>(files.repository->get(files.key("Spam"))->journalBytes()));
        journal << '\x05';
    }
    ASSERT_TRUE(fill(root + "/filler"));
    const std::size_t logged = files.log.entries().size();
    EXPECT_EQ(information(), information("Spam", files.make().get()));
    EXPECT_EQ(logged + 1, files.log.entries().size());
}

}  // namespace
}  // namespace norvale::quillmark
