#pragma once

#include "exceptions/Exception.h"

namespace platform::event {

// A failed operation on an event; the message ends with the system error text.
class EventException : public exceptions::Exception {
public:
    using Exception::Exception;
};

}  // namespace platform::event
