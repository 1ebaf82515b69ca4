#pragma once

#include <cstddef>
#include <string_view>

namespace exceptions {

// Root of every exception type of the system. The message is copied into a fixed buffer inside
// the object, so copying or throwing an exception never allocates; messages longer than
// MessageCapacity - 1 characters are cut. Families derive from it and inherit the constructor:
//
//   class SocketException : public IOException { public: using IOException::IOException; };
//
// Deliberately not derived from std::exception: request and connection handlers tell the
// system's own failures apart from standard-library ones by catching them separately.
class Exception {
public:
    static constexpr std::size_t MessageCapacity = 4096;

    explicit Exception(std::string_view message) noexcept;
    Exception(const Exception& other) noexcept = default;
    Exception& operator=(const Exception& other) noexcept = default;
    virtual ~Exception();

    virtual const char* what() const noexcept;

private:
    char _message[MessageCapacity];
};

}  // namespace exceptions
