#pragma once

#include <string>

namespace platform::errorresources {

// Supplies a description for an error code that the operating system has no text for (the socket
// layer's table is one). Implementations are immutable after construction and may be shared by
// any number of threads.
class ErrorMapper {
public:
    virtual ~ErrorMapper() = default;

    // Returns true and sets `text` when the code is known.
    virtual bool lookup(int code, std::string& text) const = 0;
};

}  // namespace platform::errorresources
