#include "posix/signals/StopSignals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"

namespace {

using posix::signals::StopSignals;

// An event that counts how often it was set and can be waited for with a limit.
class CountingEvent : public platform::event::Event {
public:
    void set() override {
        std::lock_guard lock(_mutex);
        ++_sets;
        _changed.notify_all();
    }
    void reset() override {}
    void wait() override { waitForSets(1); }

    bool waitForSets(int count) {
        std::unique_lock lock(_mutex);
        return _changed.wait_for(lock, std::chrono::seconds(20), [&] { return _sets >= count; });
    }
    int sets() {
        std::lock_guard lock(_mutex);
        return _sets;
    }

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    int _sets = 0;
};

void noteSignal(int) {}

sighandler_t currentHandler(int signal) {
    struct sigaction action {};
    sigaction(signal, nullptr, &action);
    return action.sa_handler;
}

class StopSignalsTest : public ::testing::Test {
protected:
    platform::thread::OsInfoImpl _os;
    platform::thread::ThreadFactoryImpl _threads{&_os};
    CountingEvent _event;
};

// While installed, SIGINT and SIGTERM set the stop event and the process goes on; afterwards the
// previous handlers are back and a second object may be installed.
TEST_F(StopSignalsTest, SignalsSetTheStopEventWhileInstalled) {
    signal(SIGINT, noteSignal);
    signal(SIGTERM, noteSignal);
    {
        StopSignals signals(&_event, &_threads);
        int sets = 0;
        for (const int stop : {SIGTERM, SIGINT, SIGTERM}) {
            ASSERT_EQ(0, raise(stop));
            ASSERT_TRUE(_event.waitForSets(++sets));
        }
    }
    EXPECT_EQ(noteSignal, currentHandler(SIGINT));
    EXPECT_EQ(noteSignal, currentHandler(SIGTERM));
    raise(SIGTERM);
    EXPECT_EQ(3, _event.sets());
    {
        StopSignals again(&_event, &_threads);
        raise(SIGINT);
        EXPECT_TRUE(_event.waitForSets(4));
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

}  // namespace
