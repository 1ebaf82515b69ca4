#pragma once

// SIGHUP asks the process to take up its log file again (the convention logrotate and
// `systemctl reload` rely on): while the object lives, the signal calls requestReopen of the
// target instead of ending the process, which is what SIGHUP does by default. The target does
// the rest on its own next write.
//
// One object may be installed at a time (signal dispositions are process-wide); construct and
// destroy it on one thread. The destructor puts the previous disposition back.

#include <signal.h>

#include "exceptions/Exception.h"
#include "posix/signals/ReopenRequest.h"

namespace posix::signals {

class HangUpSignalException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class HangUpSignal {
public:
    // `target` is not owned and must outlive the object. Throws HangUpSignalException when the
    // handler cannot be installed.
    explicit HangUpSignal(ReopenRequest* target);
    ~HangUpSignal();
    HangUpSignal(const HangUpSignal&) = delete;
    HangUpSignal& operator=(const HangUpSignal&) = delete;

private:
    static void handle(int signal);

    struct sigaction _previous {};
};

}  // namespace posix::signals
