#pragma once

#include "platform/thread/OsInfo.h"
#include "platform/thread/ThreadFactory.h"

namespace platform::thread {

// Makes plain ThreadImpl threads.
class ThreadFactoryImpl : public ThreadFactory {
public:
    explicit ThreadFactoryImpl(const OsInfo* osInfo) : _osInfo(osInfo) {}

    std::unique_ptr<Thread> create(Runnable* runnable) const override;

private:
    const OsInfo* _osInfo;
};

}  // namespace platform::thread
