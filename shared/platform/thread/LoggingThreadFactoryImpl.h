#pragma once

#include "platform/thread/OsInfo.h"
#include "platform/thread/ThreadFactory.h"
#include "platform/thread/ThreadLog.h"

namespace platform::thread {

// Makes LoggingThreadImpl threads that report to one ThreadLog (may be null).
class LoggingThreadFactoryImpl : public ThreadFactory {
public:
    LoggingThreadFactoryImpl(const OsInfo* osInfo, ThreadLog* log) : _osInfo(osInfo), _log(log) {}

    std::unique_ptr<Thread> create(Runnable* runnable) const override;

private:
    const OsInfo* _osInfo;
    ThreadLog* _log;
};

}  // namespace platform::thread
