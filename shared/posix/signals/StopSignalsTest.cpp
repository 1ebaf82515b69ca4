#include "posix/signals/StopSignals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"

namespace {

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

}  // namespace
