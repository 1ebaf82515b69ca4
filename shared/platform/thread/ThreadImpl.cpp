#include "platform/thread/ThreadImpl.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "debug/assertion.h"
#include "platform/errorresources/SystemErrorText.h"
#include "platform/thread/AlternateSignalStack.h"
#include "platform/thread/CurrentThread.h"
#include "platform/thread/ThreadException.h"

namespace platform::thread {

using errorresources::systemErrorText;

namespace {

timespec deadlineAfter(std::uint32_t timeoutMs) {
    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

std::string creationFailure(int error) {
    char buffer[256];
    const char* text = strerror_r(error, buffer, sizeof buffer);
    // There is no separate operating-system error beside errno here, hence doserrno 0.
    return "Error creating thread using '_beginthreadex'. errno: " + std::to_string(error) +
           ". doserrno: 0. strerror: " + text + ". " + systemErrorText(error);
}

}  // namespace

ThreadImpl::ThreadImpl(const OsInfo* osInfo, Runnable* runnable, std::string name)
    : _osInfo(osInfo), _runnable(runnable), _name(std::move(name)) {}

ThreadImpl::~ThreadImpl() {
    QM_ASSERT_TEXT(_state == CREATED || _state == DELETED, "_state == CREATED || _state == DELETED",
                   "A thread must be joined or terminated before it is destroyed.");
}

void ThreadImpl::start() {
    QM_ASSERT_TEXT(_state == CREATED, "_state == CREATED", "A thread can be started only once.");
    QM_ASSERT_TEXT(!_handle.has_value(), "_handle == 0", "A thread can be started only once.");
    _runningName = _name;
    pthread_t handle;
    const int error = ::pthread_create(&handle, nullptr, &ThreadImpl::entry, this);
    if (error != 0) throw ThreadException(creationFailure(error));
    _handle = handle;
    _state = STARTED;
    _id.wait(0);
}

void* ThreadImpl::entry(void* self) {
    auto* thread = static_cast<ThreadImpl*>(self);
    // Lets the fatal-signal handler report a stack overflow of this thread too.
    const AlternateSignalStack signalStack;
    detail::setCurrentThreadName(thread->_runningName);
    thread->_id.store(currentThreadId());
    thread->_id.notify_all();
    thread->body();
    return nullptr;
}

void ThreadImpl::body() {
    _runnable->run();
}

void ThreadImpl::join() {
    if (_state != STARTED) return;
    const int error = ::pthread_join(*_handle, nullptr);
    if (error != 0) {
        throw ThreadException("WaitForSingleObject failed while waiting for a thread. " +
                              systemErrorText(error));
    }
    joined();
}

bool ThreadImpl::join(std::uint32_t timeoutMs) {
    if (_state != STARTED) return false;
    int error;
    if (timeoutMs == 0) {
        error = ::pthread_tryjoin_np(*_handle, nullptr);
    } else {
        const timespec deadline = deadlineAfter(timeoutMs);
        error = ::pthread_timedjoin_np(*_handle, nullptr, &deadline);
    }
    if (error == EBUSY || error == ETIMEDOUT) return false;
    if (error != 0) {
        throw ThreadException("WaitForSingleObject failed while waiting for a thread. " +
                              systemErrorText(error));
    }
    joined();
    return true;
}

void ThreadImpl::joined() {
    _state = JOINING;
    _handle.reset();
    _id.store(0);  // the kernel reuses ids of ended threads
    _state = DELETED;
}

void ThreadImpl::terminate() {
    QM_ASSERT_TEXT(_state == STARTED, "_state == STARTED",
                   "Only a running thread can be terminated.");
    const int error = ::pthread_cancel(*_handle);
    if (error != 0 && error != ESRCH) {
        throw ThreadException("TerminateThread failed. Thread: " + std::to_string(_id.load()) +
                              ". " + systemErrorText(error));
    }
    // Waiting for the end makes it safe to destroy the thread and its Runnable afterwards.
    const int joinError = ::pthread_join(*_handle, nullptr);
    if (joinError != 0) {
        throw ThreadException("CloseHandle failed while after callling TerminateThread. " +
                              systemErrorText(joinError));
    }
    _handle.reset();
    _id.store(0);
    _state = DELETED;
}

bool ThreadImpl::isCurrent() const {
    const std::uint32_t caller = currentThreadId();
    QM_ASSERT_TEXT(caller != 0, "threadId != 0", "The system reported thread id 0.");
    return _id.load() == caller;
}

}  // namespace platform::thread
