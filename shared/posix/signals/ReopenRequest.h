#pragma once

// Something that keeps a file by name and can be asked to take it up again, for example after
// logrotate moved it away (HangUpSignal). The request comes from inside a signal handler, so it
// must be async-signal-safe: no locks, no allocation, only lock-free atomics.

namespace posix::signals {

class ReopenRequest {
public:
    virtual ~ReopenRequest() = default;

    virtual void requestReopen() noexcept = 0;
};

}  // namespace posix::signals
