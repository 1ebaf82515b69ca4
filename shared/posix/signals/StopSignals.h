#pragma once

// Lets SIGINT (Ctrl-C) and SIGTERM end a console server in order: while the object lives, each
// of them sets the stop event the server waits for, instead of ending the process at once.
//
// A signal handler may not touch a mutex, so the handler only writes the signal's number into a
// pipe; a watcher thread of this object reads the pipe and sets the event. The handlers are
// installed with SA_RESTART, so a blocking call elsewhere goes on after the signal.
//
// One object may be installed at a time (signal dispositions are process-wide); construct and
// destroy it on one thread. The destructor puts the previous dispositions back before it ends
// the watcher.

#include <signal.h>

#include <memory>

#include "exceptions/Exception.h"
#include "platform/event/Event.h"
#include "platform/thread/Runnable.h"
#include "platform/thread/Thread.h"
#include "platform/thread/ThreadFactory.h"

namespace posix::signals {

class StopSignalsException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class StopSignals : private platform::thread::Runnable {
public:
    static constexpr const char* WatcherThreadName = "StopSignalsThread";

    // Neither pointer is owned; both must outlive the object. Throws StopSignalsException when
    // the pipe, a handler or the watcher cannot be set up (nothing stays installed then).
    StopSignals(platform::event::Event* stopEvent, const platform::thread::ThreadFactory* threads);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    static void handle(int signal);
    void run() override;
    void install();
    void restore() noexcept;
    void closePipe() noexcept;

    platform::event::Event* _stopEvent;
    int _pipe[2] = {-1, -1};
    struct sigaction _previousInterrupt {};
    struct sigaction _previousTerminate {};
    bool _interruptInstalled = false;
    bool _terminateInstalled = false;
    std::unique_ptr<platform::thread::Thread> _watcher;
};

}  // namespace posix::signals
