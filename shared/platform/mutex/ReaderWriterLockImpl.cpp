#include "platform/mutex/ReaderWriterLockImpl.h"

#include "exceptions/Exception.h"
#include "platform/event/EventException.h"
#include "platform/mutex/MutexException.h"

namespace platform::mutex {

namespace {

// The events report their failures as EventException; this lock reports MutexException with
// its own opening and the same system error text.
template <class Operation>
void asMutexFailure(const char* failure, Operation operation) {
    try {
        operation();
    } catch (const event::EventException& e) {
        const std::string text = e.what();
        const auto systemText = text.find("System error message: ");
        throw MutexException(std::string(failure) +
                             (systemText == std::string::npos ? text : text.substr(systemText)));
    }
}

constexpr const char* WaitFailed = "'WaitForSingleObject' failed in ReaderWriterLockImpl. ";
constexpr const char* SetFailed = "'SetEvent' failed in ReaderWriterLockImpl. ";
constexpr const char* ResetFailed = "Failed resetting the reader event in ReaderWriterLockImpl. ";

}  // namespace

ReaderWriterLockImpl::ReaderWriterLockImpl() = default;

void ReaderWriterLockImpl::lockReader() {
    {
        std::lock_guard transition(_readerTransitions);
        if (_counter.fetch_add(1) + 1 == 0) {
            asMutexFailure(WaitFailed, [this] { _mutexEvent.wait(); });
            asMutexFailure(SetFailed, [this] { _readerEvent.set(); });
        }
    }
    asMutexFailure(WaitFailed, [this] { _readerEvent.wait(); });
}

void ReaderWriterLockImpl::unlockReader() {
    std::lock_guard transition(_readerTransitions);
    if (_counter.fetch_sub(1) - 1 < 0) {
        asMutexFailure(ResetFailed, [this] { _readerEvent.reset(); });
        asMutexFailure(SetFailed, [this] { _mutexEvent.set(); });
    }
}

void ReaderWriterLockImpl::lockWriter() {
    try {
        _writerMutex.lock();
    } catch (const MutexException& e) {
        throw MutexException(std::string(WaitFailed) + e.what());
    }
    try {
        asMutexFailure(WaitFailed, [this] { _mutexEvent.wait(); });
    } catch (...) {
        _writerMutex.unlock();
        throw;
    }
}

void ReaderWriterLockImpl::unlockWriter() {
    asMutexFailure(SetFailed, [this] { _mutexEvent.set(); });
    try {
        _writerMutex.unlock();
    } catch (const MutexException& e) {
        throw MutexException(std::string("'ReleaseMutex' failed in ReaderWriterLockImpl. ") +
                             e.what());
    }
}

}  // namespace platform::mutex
