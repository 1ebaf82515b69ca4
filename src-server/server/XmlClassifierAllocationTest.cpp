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

// What one run of the request left: its answer or bad_alloc, and whether it reached the
// allocation made to fail.
struct Outcome {
    std::string answer;
    bool outOfMemory = false;
    bool failed = false;
};

class XmlClassifierAllocationTest : public StorageFixture {
protected:
    XmlClassifierAllocationTest() {
        createSpam();
        _snapshot = stored();
    }

    Files stored() const {
        Files found;
        for (const auto& entry : fs::directory_iterator(root)) {
            found[entry.path().filename().string()] = io::filesystem::test::TempFolder::read(entry.path());
        }
        return found;
    }

    // The classifier folder as it was after set-up, and a repository that has loaded nothing.
    std::unique_ptr<JobDistributionImpl> restore() {
        for (const auto& entry : fs::directory_iterator(root)) fs::remove(entry.path());
        for (const auto& [name, bytes] : _snapshot) std::ofstream(root + "/" + name, std::ios::binary) << bytes;
        return files.make();
    }

    // Runs the request with allocation allowed + 1 failing (allowed -1: none fails); with
    // `once`, the allocations after it succeed again.
    Outcome runFailing(JobDistribution& classifiers, const std::string& body, long allowed, bool once) {
        const std::string document = request(body);
        Outcome outcome;
        allocationsMade = 0;
        allocationsFailed = 0;
        try {
            if (once) {
                const FailOnceAfter failing(allowed);
                outcome.answer = process(document, false, &classifiers);
            } else {
                const FailAfter failing(allowed);
                outcome.answer = process(document, false, &classifiers);
            }
        } catch (const std::bad_alloc&) {
            outcome.outOfMemory = true;
        }
        outcome.failed = allocationsFailed > 0;
        return outcome;
    }

    std::string informationIn(JobDistribution& classifiers, const std::string& name) {
        return process(request(readCalls(call("getInformation", "i", "classifierName=\"" + name + "\""))),
                       false, &classifiers);
    }

    Files _snapshot;
};

bool wellFormed(const std::string& text) {
    try {
        xml::Document().loadFromMemory(text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

struct WriteRequest {
    const char* what;
    const char* classifier;
    std::string body;
};

// An answer is an error document saying the server ran out of memory; where process gives up
// with bad_alloc, its connection sends that document. A failure after the commit (only the
// success document is left to build) leaves the committed state; any other leaves everything as
// it was. When every allocation after the failing one fails too, a classifier created by the
// request cannot always be taken out of memory again (it never reaches the disk).
TEST_F(XmlClassifierAllocationTest, EveryFailedAllocationAnswersAndChangesNothing) {
    const std::string trainText = "cheap offer for the meeting on monday buy now pills";
    const WriteRequest requests[] = {
        {"a new classifier", "Fresh",
         texts(text("t", trainText)) +
             writeCalls("Fresh", call("create", "w1") + call("addClass", "w2", "className=\"x\"") +
                                     call("addClass", "w3", "className=\"y\"") +
                                     call("train", "w4", "className=\"x\" textId=\"t\"") +
                                     call("train", "w5", "className=\"y\" textId=\"t\""))},
        {"a stored classifier loaded by the request", "Spam",
         texts(text("t", trainText)) +
             writeCalls("Spam", call("train", "w1", "className=\"bad\" textId=\"t\"") +
                                    call("addClass", "w2", "className=\"third\"") +
                                    call("untrain", "w3", "className=\"good\" textId=\"t\""))},
        {"training in place on a stored classifier", "Spam",
         texts(text("t", trainText) + text("u", "meeting notes for monday")) +
             writeCalls("Spam", call("train", "w1", "className=\"bad\" textId=\"t\"") +
                                    call("untrain", "w2", "className=\"good\" textId=\"u\""))},
    };
    for (const bool once : {true, false}) {
        for (const WriteRequest& r : requests) {
            SCOPED_TRACE(std::string(r.what) + (once ? ", one allocation fails" : ", all fail"));
            std::unique_ptr<JobDistributionImpl> classifiers = restore();
            const std::string before = informationIn(*classifiers, r.classifier);
            classifiers = restore();
            ASSERT_EQ(2000, statusOf(runFailing(*classifiers, r.body, -1, once).answer));
            const long needed = allocationsMade;
            const std::string committed = informationIn(*classifiers, r.classifier);
            const Files committedFiles = stored();
            ASSERT_NE(before, committed);
            ASSERT_GT(needed, 10);

            int answered = 0;
            int afterCommit = 0;
            int leftInMemory = 0;
            for (long n = 1; n <= needed; ++n) {
                SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(needed));
                classifiers = restore();
                const Outcome outcome = runFailing(*classifiers, r.body, n - 1, once);
                if (!outcome.failed) {
                    // This run needed fewer allocations than the counted one (names of
                    // temporary files grow by a digit now and then).
                    EXPECT_EQ(2000, statusOf(outcome.answer));
                    continue;
                }
                if (!outcome.outOfMemory && statusOf(outcome.answer) == 2000) {
                    // Compaction after the commit may fail: the lanes are read uncompacted.
                    EXPECT_EQ(committed, informationIn(*classifiers, r.classifier));
                    EXPECT_TRUE(stored() == committedFiles);
                    continue;
                }
                if (!outcome.outOfMemory) {
                    ++answered;
                    EXPECT_TRUE(wellFormed(outcome.answer)) << outcome.answer;
                    EXPECT_EQ(5030, statusOf(outcome.answer)) << outcome.answer;
                }
                const std::string after = informationIn(*classifiers, r.classifier);
                if (after == committed && stored() == committedFiles) {
                    ++afterCommit;
                    EXPECT_TRUE(outcome.outOfMemory);
                    continue;
                }
                EXPECT_TRUE(stored() == _snapshot);
                if (!once && statusOf(before) == 4000 && statusOf(after) == 2000) {
                    ++leftInMemory;
                    continue;
                }
                EXPECT_EQ(before, after);
            }
            std::printf("%s, %s: %ld allocations, %d answered, %d after the commit, %d left in "
                        "memory\n",
                        r.what, once ? "one fails" : "all fail", needed, answered, afterCommit,
                        leftInMemory);
            if (once) {
                EXPECT_EQ(0, leftInMemory);
            }
        }
    }
}

}  // namespace
}  // namespace norvale::quillmark
