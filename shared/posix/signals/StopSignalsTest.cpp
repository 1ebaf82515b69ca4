// SIGINT and SIGTERM stop the server (SIGTERM end to end in QuillmarkServerTest; SIGHUP, which
// reopens the log, in LogImplConcurrencyTest).
#include "posix/signals/StopSignals.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>

#include "platform/thread/OsInfoImpl.h"
#include "platform/thread/ThreadFactoryImpl.h"
#include "testing/Eventually.h"

namespace {

// An event that counts how often it was set.
struct CountingEvent : platform::event::Event {
    void set() override { ++sets; }
    void reset() override {}
    void wait() override {}
    std::atomic<int> sets{0};
};

void noteSignal(int) {}

// While installed, each signal sets the event and the process goes on; afterwards the previous
// handlers are back.
TEST(StopSignalsTest, SignalsSetTheEventOnlyWhileInstalled) {
    platform::thread::OsInfoImpl os;
    platform::thread::ThreadFactoryImpl threads{&os};
    CountingEvent event;
    for (const int signal : {SIGINT, SIGTERM}) ::signal(signal, noteSignal);
    {
        posix::signals::StopSignals signals(&event, &threads);
        for (int sets = 1; const int stop : {SIGTERM, SIGINT, SIGTERM}) {
            ASSERT_EQ(0, ::raise(stop));
            norvale::quillmark::testing::eventually([&] { return event.sets.load() >= sets; });
            ASSERT_EQ(sets++, event.sets.load());
        }
    }
    for (const int signal : {SIGINT, SIGTERM}) EXPECT_EQ(noteSignal, ::signal(signal, SIG_DFL));
    EXPECT_EQ(3, event.sets.load());
}

}  // namespace
