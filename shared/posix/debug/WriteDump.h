#pragma once

// Writes a crash report of the current process into a new file: the log leaves one beside the
// log file after every error once start-up is complete and after every failed assertion. Created
// once at start-up and shared by pointer; any thread may call it, each call with its own path.

#include <string>

#include "exceptions/Exception.h"

namespace posix::debug {

class WriteDumpException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class WriteDump {
public:
    virtual ~WriteDump() = default;

    // Creates (or replaces) the file at path and writes the report of the calling thread into
    // it. Throws WriteDumpException; a report that could not be written completely is deleted.
    virtual void write(const std::string& path) const = 0;
};

}  // namespace posix::debug
