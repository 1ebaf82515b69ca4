// The signals that reach the server as requests: SIGINT and SIGTERM stop it, SIGHUP reopens its
// log (whose delivery is tested with the log, LogImplConcurrencyTest).
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

class CountingTarget : public posix::signals::ReopenRequest {
public:
    void requestReopen() noexcept override { ++requests; }
    std::atomic<int> requests{0};
};

void noteSignal(int) {}

// While installed, the signals reach their target and the process goes on; afterwards the
// previous handlers are back (and a signal no longer reaches the target), and a second object
// may be installed.
TEST(StopSignalsTest, SignalsReachTheirTargetOnlyWhileInstalled) {
    platform::thread::OsInfoImpl os;
    platform::thread::ThreadFactoryImpl threads{&os};
    CountingEvent event;
    CountingTarget target;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, noteSignal);
    {
        posix::signals::StopSignals signals(&event, &threads);
        posix::signals::HangUpSignal hangUp(&target);
        int sets = 0;
        for (const int stop : {SIGTERM, SIGINT, SIGTERM}) {
            ASSERT_EQ(0, ::raise(stop));
            ASSERT_TRUE(event.reaches(++sets));
        }
        ASSERT_EQ(0, ::raise(SIGHUP));
        EXPECT_EQ(1, target.requests.load());
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EQ(noteSignal, ::signal(signal, noteSignal));
        ::raise(signal);
    }
    EXPECT_EQ(3, event.sets.load());
    EXPECT_EQ(1, target.requests.load());
    {
        posix::signals::StopSignals again(&event, &threads);
        ::raise(SIGINT);
        EXPECT_TRUE(event.reaches(4));
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
}

}  // namespace
