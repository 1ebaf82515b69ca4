// Makes the N-th allocation of a write request fail, for every N the request reaches, and checks
// the answer and that neither memory nor the classifier files changed. The global operator new is
// replaced, so this test has an executable of its own.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <string>

#include "classifier/CountingOperatorNew.h"
#include "server/XmlClassifierTestSupport.h"
#include "xml/Document.h"

namespace norvale::quillmark {
namespace {

using namespace test;
namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

class XmlClassifierAllocationTest : public StorageFixture {
protected:
    Files stored() const {
        Files found;
        for (const auto& entry : fs::directory_iterator(root)) {
            found[entry.path().filename().string()] =
                io::filesystem::test::TempFolder::read(entry.path());
        }
        return found;
    }
    // The classifier folder as `files` has it, and a repository that has loaded nothing.
    std::unique_ptr<JobDistributionImpl> restore(const Files& content) {
        for (const auto& entry : fs::directory_iterator(root)) fs::remove(entry.path());
        for (const auto& [name, bytes] : content)
            std::ofstream(root + "/" + name, std::ios::binary) << bytes;
        return files.make();
    }
    // The answer with allocation allowed + 1 failing (-1: none fails), "" for bad_alloc; with
    // `once`, the allocations after it succeed again.
    std::string runFailing(JobDistribution& classifiers, const std::string& body, long allowed,
                           bool once) {
        allocationsMade = allocationsFailed = 0;
        try {
            if (once) {
                const FailOnceAfter failing(allowed);
                return process(request(body), false, &classifiers);
            }
            const FailAfter failing(allowed);
            return process(request(body), false, &classifiers);
        } catch (const std::bad_alloc&) {
            return "";
        }
    }
};

// An answer is a well-formed error document saying the server ran out of memory; where process
// gives up with bad_alloc, its connection sends that document. A failure after the commit (only
// the success document is left to build) leaves the committed state; any other leaves
// everything as it was. When every allocation after the failing one fails too, a classifier
// created by the request cannot always be taken out of memory again (it never reaches the disk).
TEST_F(XmlClassifierAllocationTest, EveryFailedAllocationAnswersAndChangesNothing) {
    createSpam();
    const Files snapshot = stored();
    const std::string trainText = text("t", "cheap offer for the meeting on monday buy now pills");
    const std::pair<const char*, std::string> requests[] = {
        {"Fresh",
         texts(trainText) +
             writeCalls("Fresh", call("create", "w1") + addClass("w2", "x") + addClass("w3", "y") +
                                     train("w4", "x") + train("w5", "y"))},
        {"Spam",
         texts(trainText) +
             writeCalls("Spam", train("w1", "bad") + addClass("w2", "third") +
                                    call("untrain", "w3", "className=\"good\" textId=\"t\""))},
        // Training in place, with its undo log.
        {"Spam",
         texts(trainText + text("u", "meeting notes for monday")) +
             writeCalls("Spam", train("w1", "bad") +
                                    call("untrain", "w2", "className=\"good\" textId=\"u\""))},
    };
    for (const bool once : {true, false}) {
        for (const auto& [name, body] : requests) {
            SCOPED_TRACE(std::string(name) + (once ? ", one allocation fails" : ", all fail"));
            const std::string before = information(name, restore(snapshot).get());
            std::unique_ptr<JobDistributionImpl> classifiers = restore(snapshot);
            ASSERT_EQ(2000, statusOf(runFailing(*classifiers, body, -1, once)));
            const long needed = allocationsMade;
            const std::string committed = information(name, classifiers.get());
            const Files committedFiles = stored();
            ASSERT_NE(before, committed);
            ASSERT_GT(needed, 10);
            for (long n = 1; n <= needed; ++n) {
                SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(needed));
                classifiers = restore(snapshot);
                const std::string answer = runFailing(*classifiers, body, n - 1, once);
                if (allocationsFailed == 0) {
                    // Fewer allocations than counted (names of temporary files grow a digit).
                    EXPECT_EQ(2000, statusOf(answer));
                    continue;
                }
                const std::string after = information(name, classifiers.get());
                if (after == committed && stored() == committedFiles) {
                    // Compaction after the commit may fail (the lanes are read uncompacted), or
                    // only the success document was left to build.
                    EXPECT_TRUE(answer.empty() || statusOf(answer) == 2000) << answer;
                    continue;
                }
                if (!answer.empty()) {
                    EXPECT_NO_THROW(xml::Document().loadFromMemory(answer)) << answer;
                    EXPECT_EQ(5030, statusOf(answer)) << answer;
                }
                EXPECT_TRUE(stored() == snapshot);
                if (!once && statusOf(before) == 4000 && statusOf(after) == 2000) continue;
                EXPECT_EQ(before, after);
            }
        }
    }
}

}  // namespace
}  // namespace norvale::quillmark
