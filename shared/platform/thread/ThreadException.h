#pragma once

#include "exceptions/Exception.h"

namespace platform::thread {

// A failed thread operation (create, join, terminate); the message ends with the system error text.
class ThreadException : public exceptions::Exception {
public:
    using Exception::Exception;
};

}  // namespace platform::thread
