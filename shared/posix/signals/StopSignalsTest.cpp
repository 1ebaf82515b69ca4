#include "posix/signals/StopSignals.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "posix/signals/HangUpSignal.h"

namespace {

using posix::signals::HangUpSignal;

// An event that counts how often it was set.
class CountingEvent : public platform::event::Event {
public:
    void set() override { ++sets; }
    void reset() override {}
    void wait() override {}
    bool reaches(int count) const {
        for (int i = 0; i < 2000 && sets.load() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return sets.load() == count;
    }
    std::atomic<int> sets{0};
};

void noteSignal(int) {}

// While installed, SIGINT and SIGTERM set the stop event and the process goes on; afterwards the
// previous handlers are back and a second object may be installed.
TEST(StopSignalsTest, SignalsSetTheStopEventWhileInstalled) {
    platform::thread::OsInfoImpl os;
    platform::thread::ThreadFactoryImpl threads{&os};
    CountingEvent event;
    signal(SIGINT, noteSignal);
    signal(SIGTERM, noteSignal);
    {
        posix::signals::StopSignals signals(&event, &threads);
        int sets = 0;
        for (const int stop : {SIGTERM, SIGINT, SIGTERM}) {
            ASSERT_EQ(0, raise(stop));
            ASSERT_TRUE(event.reaches(++sets));
        }
    }
    EXPECT_EQ(noteSignal, signal(SIGINT, SIG_DFL));
    EXPECT_EQ(noteSignal, signal(SIGTERM, noteSignal));
    raise(SIGTERM);
    EXPECT_EQ(3, event.sets.load());
    {
        posix::signals::StopSignals again(&event, &threads);
        raise(SIGINT);
        EXPECT_TRUE(event.reaches(4));
    }
    signal(SIGTERM, SIG_DFL);
}

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
