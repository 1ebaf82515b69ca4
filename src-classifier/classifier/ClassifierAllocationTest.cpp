// Makes the k-th allocation inside train fail, for every k train reaches, and checks that the
// classifier's counts are exactly what they were. The global operator new is replaced, so this
// test has an executable of its own.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classifier/ClassifierImpl.h"
#include "classifier/CountingOperatorNew.h"
#include "classifier/ClassifierTestSupport.h"

namespace norvale::classifier {
namespace {

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
