#pragma once

#include <string>
#include <system_error>

#include "platform/errorresources/SystemErrorText.h"
#include "platform/event/EventException.h"

namespace platform::event {

// Runs an operation on the standard synchronisation primitives and turns the std::system_error
// they report into an EventException: failure text + system error text.
template <class Operation>
void throwingEventException(const char* failure, Operation operation) {
    try {
        operation();
    } catch (const std::system_error& e) {
        throw EventException(std::string(failure) +
                             errorresources::systemErrorText(e.code().value()));
    }
}

}  // namespace platform::event
