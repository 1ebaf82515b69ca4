#include "platform/thread/LoggingThreadFactoryImpl.h"

#include "platform/thread/LoggingThreadImpl.h"

namespace platform::thread {

std::unique_ptr<Thread> LoggingThreadFactoryImpl::create(Runnable* runnable) const {
    return std::make_unique<LoggingThreadImpl>(_osInfo, runnable, "", _log);
}

}  // namespace platform::thread
