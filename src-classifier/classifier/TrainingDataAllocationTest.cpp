// Watches every allocation a load of classifier data makes: a failing k-th allocation must leave
// the classifier as it was, and no load, of valid or damaged data, may ask for memory out of
// proportion to the blob. The global operator new is replaced, so this test has an executable of
// its own.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classifier/BlobTestSupport.h"
#include "classifier/ClassifierException.h"
#include "classifier/ClassifierImpl.h"
#include "classifier/CountingOperatorNew.h"
#include "classifier/ClassifierTestSupport.h"

namespace norvale::classifier {
namespace {

using namespace blobtest;

class TrainingDataAllocationTest : public testing::Test {
protected:
    std::unique_ptr<ClassifierImpl> make() {
        return std::make_unique<ClassifierImpl>(&_callbacks, 0.05);
    }

    std::string currentBlob() {
        const auto classifier = make();
        classifier->addClass("first");
        classifier->addClass("second");
        classifier->train("first", "words of the first class, some of them twice: words class");
        classifier->train("second", "the second class has other words and a longer tail of them");
        classifier->compact();
        return classifier->getTrainingData();
    }

    static std::string legacyData() {
        std::string tokens;
        for (char c = 'a'; c <= 'z'; ++c) tokens += tokenRecord(std::string(1, c), c - 'a');
        return legacyBlob(4, 2,
                          legacyClass("x", distributionBlock({tokenRecord("", 3), tokens,
                                                              tokenRecord("pq", 2)})) +
                              legacyClass("y", distributionBlock({"", tokenRecord("q", 5)})));
    }

    RecordingCallbackFactory _callbacks;
};

TEST_F(TrainingDataAllocationTest, FailedAllocationLeavesTheClassifierAsItWas) {
    const auto target = make();
    target->addClass("kept");
    target->train("kept", "content that must survive every failed load");
    target->compact();
    const std::string before = target->getTrainingData();

    for (const std::string& data : {currentBlob(), legacyData()}) {
        long needed = 0;
        std::string loaded;
        {
            const auto probe = make();
            allocationsMade = 0;
            probe->setTrainingData(data);
            needed = allocationsMade;
            loaded = probe->getTrainingData();
        }
        ASSERT_GT(needed, 32);
        for (long k = 0; k < needed; ++k) {
            bool failed = false;
            try {
                FailAfter fail(k);
                target->setTrainingData(data);
            } catch (const std::bad_alloc&) {
                failed = true;
            }
            ASSERT_TRUE(failed) << "allocation " << k << " of " << needed;
            ASSERT_EQ(before, target->getTrainingData()) << "allocation " << k;
        }
        target->setTrainingData(data);
        EXPECT_EQ(loaded, target->getTrainingData());
        target->setTrainingData(before);
    }
}

// Sizes and counts that promise more than the data holds are refused before anything is
// allocated for them; whatever loads costs memory in proportion to the blob.
TEST_F(TrainingDataAllocationTest, NoLoadAsksForMemoryOutOfProportionToTheBlob) {
    std::vector<std::string> blobs;
    std::string hugeLane = header(5) + emptyPayload();
    hugeLane.replace(hugeLane.size() - 4, 4, u32(0xFFFFFFFF));
    blobs.push_back(hugeLane + std::string(64, 'r'));
    blobs.push_back(header(5) + u16(0xFFFF) + u32(0xFFFFFFF0));
    blobs.push_back(legacyBlob(4, 65535, legacyClass("a", u32(0xFFFFFFFF) + u32(0))));
    blobs.push_back(legacyBlob(3, 1, legacyClass("a", u32(1) + u32(0xFFFFFFFF) + "abcd")));

    std::mt19937 random(4);
    for (const std::string& valid : {currentBlob(), legacyData()}) {
        blobs.push_back(valid);
        for (int i = 0; i < 300; ++i) {
            std::string damaged = valid;
            for (int step = 0; step < 3; ++step) {
                const std::size_t at = random() % (damaged.size() - 4);
                damaged.replace(at, 4, u32(static_cast<std::uint32_t>(random())));
            }
            blobs.push_back(damaged);
        }
    }

    std::size_t loaded = 0;
    for (const std::string& blob : blobs) {
        const auto target = make();
        largestAllocation = 0;
        bytesAllocated = 0;
        try {
            target->setTrainingData(blob);
            ++loaded;
        } catch (const ClassifierException&) {
        }
        // The reader's own copy and the lanes' records are each at most the blob; a class
        // record or a pending entry in memory is a few times its stored size.
        EXPECT_LE(largestAllocation, 4 * blob.size() + 4096) << blob.size();
        EXPECT_LE(bytesAllocated, 64 * blob.size() + 65536) << blob.size();
    }
    EXPECT_GT(loaded, 2u);
}

}  // namespace
}  // namespace norvale::classifier
