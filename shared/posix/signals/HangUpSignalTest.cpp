#include "posix/signals/HangUpSignal.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

namespace {

using posix::signals::HangUpSignal;

class CountingTarget : public posix::signals::ReopenRequest {
public:
    void requestReopen() noexcept override { ++requests; }
    std::atomic<int> requests{0};
};

// SIGHUP reaches the target instead of ending the process; afterwards the disposition that was
// there before (here: ignore) is back, and the signal no longer reaches the target.
TEST(HangUpSignalTest, SignalReachesTheTargetWhileInstalled) {
    struct sigaction ignore {
    }, before{}, after{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(0, ::sigaction(SIGHUP, &ignore, &before));
    CountingTarget target;
    {
        HangUpSignal hangUp(&target);
        ASSERT_EQ(0, ::raise(SIGHUP));
        ASSERT_EQ(0, ::raise(SIGHUP));
        EXPECT_EQ(2, target.requests.load());
    }
    ASSERT_EQ(0, ::sigaction(SIGHUP, nullptr, &after));
    EXPECT_EQ(SIG_IGN, after.sa_handler);
    ASSERT_EQ(0, ::raise(SIGHUP));  // ignored: the test process goes on
    EXPECT_EQ(2, target.requests.load());
    ASSERT_EQ(0, ::sigaction(SIGHUP, &before, nullptr));
}

}  // namespace
