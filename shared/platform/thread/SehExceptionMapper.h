#pragma once

#include <cstdint>
#include <string>

namespace platform::thread {

// Describes a fatal-fault code (the structured-exception codes that fatal signals are mapped to,
// e.g. 0xC0000005 for an access violation). Immutable; any thread, also a signal handler's
// caller, may use it.
class SehExceptionMapper {
public:
    virtual ~SehExceptionMapper() = default;

    // Appends the description of the code to text.
    virtual void describe(std::uint32_t exceptionCode, std::string& text) const = 0;
};

}  // namespace platform::thread
