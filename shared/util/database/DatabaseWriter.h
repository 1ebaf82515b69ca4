#pragma once

// Appends the little-endian primitives, length-prefixed strings and raw byte runs of a stored
// blob to a byte string owned by the caller; nothing written is ever rewritten. The counterpart
// of DatabaseReader. Not synchronised.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace util::database {

class DatabaseWriter {
public:
    // out must outlive the writer; what it holds already stays in front.
    explicit DatabaseWriter(std::string* out) : _out(out) {}

    // One fixed-size value, its raw bytes.
    template <class T>
    void putPrimitive(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        putBytes(&value, sizeof(T));
    }
    // A u32 byte length, then the bytes.
    void putString(std::string_view text);
    // A u32 length, then the bytes; the same layout as a string, for data that is no text.
    void putCharStream(std::string_view bytes);
    // The bytes alone, without a length.
    void putBytes(const void* bytes, std::size_t size);
    // Makes room for size more bytes, so a blob of known size is written without regrowing.
    void reserve(std::size_t size);

private:
    void putLength(std::size_t size);

    std::string* _out;
};

}  // namespace util::database
