// Request executors on several threads sharing one repository: a read call waits for a write
// sequence on its classifier and then sees the committed state.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "server/XmlClassifierTestSupport.h"

namespace norvale::quillmark {
namespace {

using namespace test;

using XmlClassifierConcurrencyTest = StorageFixture;

TEST_F(XmlClassifierConcurrencyTest, ReadWaitsForTheWriteSequenceAndSeesItsCommit) {
    createSpam();
    std::promise<void> saving;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    files.saveFile.onSave = [&saving, released] {
        saving.set_value();
        released.wait();
    };

    std::string written;
    std::thread writer([&] {
        written = run(writeCalls("Spam", call("addClass", "a", "className=\"late\"")));
    });
    // The writer now holds the classifier's writer lock inside its commit.
    saving.get_future().wait();

    // Both kinds of read call: getInformation and classify.
    std::atomic<int> readsDone{0};
    std::string read;
    std::string classified;
    std::thread reader([&] {
        read = information();
        ++readsDone;
    });
    std::thread classifier([&] {
        classified = run(texts(text("t", "cheap pills")) +
                         readCalls(call("classify", "c", "classifierName=\"Spam\" textId=\"t\"")));
        ++readsDone;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0, readsDone.load()) << "a read call did not wait for the write sequence";

    release.set_value();
    writer.join();
    reader.join();
    classifier.join();
    EXPECT_EQ(2000, statusOf(written)) << written;
    EXPECT_EQ(2000, statusOf(classified)) << classified;
    EXPECT_EQ(2000, statusOf(read)) << read;
    EXPECT_NE(std::string::npos, read.find("<classInformation className=\"late\">")) << read;
}

}  // namespace
}  // namespace norvale::quillmark
