#include "exceptions/Exception.h"

#include <algorithm>
#include <cstring>

namespace exceptions {

Exception::Exception(std::string_view message) noexcept {
    const std::size_t length = std::min(message.size(), MessageCapacity - 1);
    std::memcpy(_message, message.data(), length);
    _message[length] = '\0';
}

Exception::~Exception() = default;

const char* Exception::what() const noexcept {
    return _message;
}

}  // namespace exceptions
