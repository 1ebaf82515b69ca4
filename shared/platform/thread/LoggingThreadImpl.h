#pragma once

#include <string>

#include "platform/thread/ThreadImpl.h"
#include "platform/thread/ThreadLog.h"

namespace platform::thread {

// A thread whose body may not let an exception escape unnoticed: an exception leaving run is
// described (kind, thread name and id, message), reported through the ThreadLog when one is set,
// and then ends the process as a broken invariant. Fatal signals are handled process-wide, not
// here; their handler finds the thread's name through currentThreadName().
class LoggingThreadImpl : public ThreadImpl {
public:
    // log may be null.
    LoggingThreadImpl(const OsInfo* osInfo, Runnable* runnable, std::string name, ThreadLog* log);

protected:
    void body() override;

private:
    [[noreturn]] void fail(const std::string& text) const;

    ThreadLog* _log;
};

}  // namespace platform::thread
