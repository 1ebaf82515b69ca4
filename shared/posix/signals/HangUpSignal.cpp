#include "posix/signals/HangUpSignal.h"

#include <atomic>

#include "debug/assertion.h"
#include "platform/errorresources/SystemErrorText.h"

namespace posix::signals {

namespace {

// The installed object's target, read by the handler; null when none is installed.
std::atomic<ReopenRequest*> installedTarget{nullptr};

}  // namespace

HangUpSignal::HangUpSignal(ReopenRequest* target) {
    ReopenRequest* none = nullptr;
    const bool first = installedTarget.compare_exchange_strong(none, target);
    QM_ASSERT(first, "A second HangUpSignal object was installed.");
    struct sigaction action {};
    action.sa_handler = &HangUpSignal::handle;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGHUP, &action, &_previous) != 0) {
        installedTarget.store(nullptr);
        throw HangUpSignalException("Could not prepare the hang-up signal using 'sigaction'. " +
                                    platform::errorresources::lastSystemErrorText());
    }
}

HangUpSignal::~HangUpSignal() {
    ::sigaction(SIGHUP, &_previous, nullptr);
    installedTarget.store(nullptr);
}

// Only async-signal-safe work: one atomic load and the target's lock-free store.
void HangUpSignal::handle(int) {
    ReopenRequest* target = installedTarget.load();
    if (target != nullptr) target->requestReopen();
}

}  // namespace posix::signals
