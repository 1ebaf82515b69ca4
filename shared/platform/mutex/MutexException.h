#pragma once

#include "exceptions/Exception.h"

namespace platform::mutex {

// A failed operation on a mutex, reader/writer lock or named lock, or an unlock by a thread that
// does not hold the mutex.
class MutexException : public exceptions::Exception {
public:
    using Exception::Exception;
};

}  // namespace platform::mutex
