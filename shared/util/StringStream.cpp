#include "util/StringStream.h"

#include <cstdio>
#include <cstring>

#include "debug/assertion.h"

namespace util {

StringStream::StringStream() : _data(_inline), _capacity(InlineCapacity) {
    _inline[0] = '\0';
}

StringStream& StringStream::operator<<(std::string_view text) {
    const std::size_t needed = _length + text.size() + 1;
    if (needed > _capacity) {
        moveToLargerBuffer(needed, text);
    } else {
        std::memcpy(_data + _length, text.data(), text.size());
    }
    _length += text.size();
    _data[_length] = '\0';
    QM_ASSERT(_length < _capacity, "The stream wrote past its buffer.");
    return *this;
}

// The appended text is copied before the old buffer is released, since it may be a view of this
// stream's own content. Doubling keeps a long run of appends linear in the final length.
void StringStream::moveToLargerBuffer(std::size_t needed, std::string_view text) {
    const std::size_t capacity = _capacity * 2 < needed ? needed : _capacity * 2;
    auto buffer = std::make_unique<char[]>(capacity);
    std::memcpy(buffer.get(), _data, _length);
    std::memcpy(buffer.get() + _length, text.data(), text.size());
    _heap = std::move(buffer);
    _data = _heap.get();
    _capacity = capacity;
}

StringStream& StringStream::appendSigned(long long value) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%lld", value);
    return *this << std::string_view(digits, static_cast<std::size_t>(length));
}

StringStream& StringStream::appendUnsigned(unsigned long long value) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%llu", value);
    return *this << std::string_view(digits, static_cast<std::size_t>(length));
}

}  // namespace util
