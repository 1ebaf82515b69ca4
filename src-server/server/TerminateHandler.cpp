#include "server/TerminateHandler.h"

#include <atomic>
#include <cstdlib>

#include "debug/assertion.h"

namespace norvale::quillmark {

namespace {
// The runtime's terminate hook is a plain function; it finds the handler object here.
std::atomic<TerminateHandler*> current{nullptr};
}  // namespace

TerminateHandler::~TerminateHandler() {
    uninstall();
}

void TerminateHandler::install() {
    std::lock_guard lock(_mutex);
    TerminateHandler* const installed = current.load();
    QM_ASSERT_TEXT(installed == nullptr || installed == this, "current == 0 || current == this",
                   "Tried to use a new terminate handler.");
    if (_installed) return;
    current.store(this);
    _previous = std::set_terminate(&TerminateHandler::onTerminate);
    _installed = true;
}

void TerminateHandler::uninstall() {
    std::lock_guard lock(_mutex);
    if (!_installed) return;
    std::set_terminate(_previous);
    current.store(nullptr);
    _installed = false;
}

void TerminateHandler::onTerminate() {
    if (TerminateHandler* handler = current.load()) handler->terminated();
    std::abort();
}

}  // namespace norvale::quillmark
