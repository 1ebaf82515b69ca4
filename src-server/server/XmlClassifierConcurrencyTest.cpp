// Request executors on several threads sharing one repository: a read call waits for a write
// sequence on its classifier and then sees the committed state.

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "server/XmlClassifierTestSupport.h"

namespace norvale::quillmark {
namespace {

using namespace test;
using XmlClassifierConcurrencyTest = StorageFixture;

TEST_F(XmlClassifierConcurrencyTest, ReadWaitsForTheWriteSequenceAndSeesItsCommit) {
    createSpam();
    std::promise<void> saving, release;
    std::shared_future<void> released = release.get_future().share();
    files.saveFile.onSave = [&saving, released] {
        saving.set_value();
        released.wait();
    };
    auto written = std::async(std::launch::async, [&] { return run(writeCalls("Spam", call("addClass", "a", "className=\"late\""))); });
    // The writer now holds the classifier's writer lock inside its commit; both kinds of read
    // call wait for it.
    saving.get_future().wait();
    auto read = std::async(std::launch::async, [&] { return information(); });
    auto classified = std::async(std::launch::async, [&] { return run(texts(text("t", "cheap pills")) + readCalls(call("classify", "c", "classifierName=\"Spam\" textId=\"t\""))); });
    EXPECT_EQ(std::future_status::timeout, read.wait_for(std::chrono::milliseconds(100)));
    EXPECT_EQ(std::future_status::timeout, classified.wait_for(std::chrono::milliseconds(0)));
    release.set_value();
    EXPECT_EQ(2000, statusOf(written.get()));
    EXPECT_EQ(2000, statusOf(classified.get()));
    EXPECT_NE(std::string::npos, read.get().find("<classInformation className=\"late\">"));
}

}  // namespace
}  // namespace norvale::quillmark
