#include "platform/thread/LoggingThreadImpl.h"

#include <cxxabi.h>

#include <exception>

#include "debug/assertion.h"
#include "exceptions/Exception.h"
#include "platform/thread/CurrentThread.h"

namespace platform::thread {

LoggingThreadImpl::LoggingThreadImpl(const OsInfo* osInfo, Runnable* runnable, std::string name,
                                     ThreadLog* log)
    : ThreadImpl(osInfo, runnable, std::move(name)), _log(log) {}

void LoggingThreadImpl::body() {
    const std::string who = "\nThread name: " + runningName() +
                            ".\nThread id: " + std::to_string(currentThreadId()) + ".";
    try {
        ThreadImpl::body();
    } catch (abi::__forced_unwind&) {
        throw;  // the unwinding of a terminated thread, not a failure of its body
    } catch (const exceptions::Exception& e) {
        fail("An Exception occurred in one of the running threads." + who + "\n" + e.what());
    } catch (const std::exception& e) {
        fail("A std exception occurred in one of the running threads." + who + "\n" + e.what());
    } catch (...) {
        fail("A running thread threw a ... exception." + who);
    }
}

void LoggingThreadImpl::fail(const std::string& text) const {
    if (_log != nullptr) _log->report(text.c_str());
    debug::assertion("false", text.c_str(), __FILE__, __LINE__);
}

}  // namespace platform::thread
