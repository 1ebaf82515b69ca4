// Watches every allocation of a training and of a load of classifier data: a failing k-th
// allocation, for every k the call reaches, must leave the classifier as it was, and no load, of
// valid or damaged data, may ask for memory out of proportion to the blob. The global operator
// new is replaced, so this test has an executable of its own.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "classifier/ClassifierTestSupport.h"
#include "classifier/CountingOperatorNew.h"

namespace norvale::classifier {
namespace {

using namespace blobtest;

// Damaged blobs may leave bytes over, which is reported.
RecordingCallbacks callbacks;

std::string legacyData() {
    std::string tokens;
    for (char c = 'a'; c <= 'z'; ++c) tokens += c + u32(c - 'a');
    return legacyBlob(4, 2,
                      str("x") + distributionBlock({"" + u32(3), tokens, "pq" + u32(2)}) +
                          str("y") + distributionBlock({"", "q" + u32(5)}));
}

// Runs change on a fresh copy of original with the k-th allocation failing, k = 0, 1, ... until
// it gets through: each failure must throw std::bad_alloc and leave the stored bytes as they
// were. Returns the bytes after the change that got through.
std::string sweep(const ClassifierImpl& original, const std::function<void(Classifier&)>& change) {
    const std::string before = original.getTrainingData();
    for (long k = 0; k < 100000; ++k) {
        const std::unique_ptr<Classifier> copy = original.clone();
        try {
            const FailAfter failing(k);
            change(*copy);
        } catch (const std::bad_alloc&) {
            copy->compact();
            EXPECT_EQ(before, copy->getTrainingData()) << "allocation " << k;
            continue;
        }
        EXPECT_GT(k, 32) << "too few allocations to tell anything";
        copy->compact();
        return copy->getTrainingData();
    }
    ADD_FAILURE() << "the change never got through";
    return before;
}

TEST(ClassifierAllocationTest, FailedTrainingOrLoadLeavesTheClassifierAsItWas) {
    const auto original = trainedOn(
        &callbacks, {{"x", "words of another class"}, {"y", "known words already stored before"}});
    // Known and new features, long enough to grow the lane's pending map more than once.
    std::string text = "known words already stored again";
    for (int i = 0; i < 40; ++i) text += " new" + std::to_string(i);
    EXPECT_NE(original->getTrainingData(),
              sweep(*original, [&](Classifier& c) { c.train("y", text); }));

    const std::string current =
        trainedOn(&callbacks, {{"x", "words of the first class, some of them twice: words"},
                               {"y", "the second class has other words and a tail"}})
            ->getTrainingData();
    for (const std::string& data : {current, legacyData()}) {
        ClassifierImpl fresh(&callbacks, 0.05);
        fresh.setTrainingData(data);
        EXPECT_EQ(fresh.getTrainingData(),
                  sweep(*original, [&](Classifier& c) { c.setTrainingData(data); }));
    }
}

// Sizes and counts that promise more than the data holds are refused before anything is
// allocated for them; whatever loads costs memory in proportion to the blob. TrainingDataFuzz
// tries the same on damaged blobs, under libFuzzer's memory limit.
TEST(ClassifierAllocationTest, NoLoadAsksForMemoryOutOfProportionToTheBlob) {
    std::string hugeLane = header(5) + emptyPayload();
    hugeLane.replace(hugeLane.size() - 4, 4, u32(0xFFFFFFFF));
    // Four that promise too much, then two that load.
    const std::string blobs[] = {
        hugeLane + std::string(64, 'r'),
        header(5) + u16(0xFFFF) + u32(0xFFFFFFF0),
        legacyBlob(4, 65535, str("a") + u32(0xFFFFFFFF) + u32(0)),
        legacyBlob(3, 1, str("a") + u32(1) + u32(0xFFFFFFFF) + "abcd"),
        trainedOn(&callbacks, {{"x", "first words"}, {"y", "and the second"}})->getTrainingData(),
        legacyData()};
    std::size_t loaded = 0;
    for (const std::string& blob : blobs) {
        ClassifierImpl target(&callbacks, 0.05);
        largestAllocation = 0;
        bytesAllocated = 0;
        try {
            target.setTrainingData(blob);
            ++loaded;
        } catch (const ClassifierException&) {
        }
        // The lanes' records are at most the blob (the reader reads it in place); a class
        // record or a pending entry in memory is a few times its stored size.
        EXPECT_LE(largestAllocation, 4 * blob.size() + 4096) << blob.size();
        EXPECT_LE(bytesAllocated, 64 * blob.size() + 65536) << blob.size();
    }
    EXPECT_EQ(loaded, 2u);
}

}  // namespace
}  // namespace norvale::classifier
