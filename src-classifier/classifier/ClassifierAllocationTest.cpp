// Makes the k-th allocation inside train fail, for every k train reaches, and checks that the
// classifier's counts are exactly what they were. The global operator new is replaced, so this
// test has an executable of its own.
// GCC sees the replaced operator delete call free() on memory from operator new and warns,
// not knowing that the replaced operator new takes it from malloc().
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "classifier/ClassifierImpl.h"
#include "classifier/ClassifierTestSupport.h"

namespace {

// Negative: allocations never fail. Otherwise the number of allocations still allowed.
long allocationsLeft = -1;
long allocationsMade = 0;

}  // namespace

void* operator new(std::size_t size) {
    if (allocationsLeft == 0) throw std::bad_alloc();
    if (allocationsLeft > 0) --allocationsLeft;
    ++allocationsMade;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace norvale::classifier {
namespace {

struct FailAfter {
    explicit FailAfter(long allowed) { allocationsLeft = allowed; }
    ~FailAfter() { allocationsLeft = -1; }
};

bool sameState(const ClassifierImpl& left, const ClassifierImpl& right) {
    if (left.getInformation() != right.getInformation()) return false;
    for (std::size_t k = 0; k < left.featureSet().laneCount(); ++k) {
        if (!left.featureSet().lane(k).equals(right.featureSet().lane(k))) return false;
    }
    return true;
}

TEST(ClassifierAllocationTest, FailedTrainingLeavesEveryCountAsItWas) {
    RecordingCallbackFactory callbacks;
    ClassifierImpl original(&callbacks, 0.05);
    original.addClass("other");
    original.addClass("target");
    original.train("target", "known words already stored before the failing training");
    original.train("other", "words of another class");
    original.compact();

    // Known and new features, long enough to grow the lane's pending map more than once.
    std::string text = "known words already stored again";
    for (int i = 0; i < 40; ++i) text += " new" + std::to_string(i);

    long needed = 0;
    {
        const auto probe = original.clone();
        allocationsMade = 0;
        probe->train("target", text);
        needed = allocationsMade;
    }
    ASSERT_GT(needed, 40);

    for (long k = 0; k < needed; ++k) {
        const std::unique_ptr<Classifier> copy = original.clone();
        auto& impl = dynamic_cast<ClassifierImpl&>(*copy);
        {
            const FailAfter failing(k);
            EXPECT_THROW(impl.train("target", text), std::bad_alloc) << "allocation " << k;
        }
        impl.compact();
        EXPECT_TRUE(sameState(original, impl)) << "allocation " << k;
    }

    const std::unique_ptr<Classifier> copy = original.clone();
    {
        const FailAfter failing(needed);
        copy->train("target", text);
    }
    copy->compact();
    EXPECT_FALSE(sameState(original, dynamic_cast<ClassifierImpl&>(*copy)));
}

}  // namespace
}  // namespace norvale::classifier
