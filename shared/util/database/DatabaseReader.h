#pragma once

// Reads the little-endian primitives, length-prefixed strings and byte runs of a stored blob
// (a classifier's data). The reader holds its own copy of the bytes and a cursor that only moves
// forward. Every read first checks, in 64-bit arithmetic and before consuming a byte of the item,
// that the item lies inside the data; otherwise it throws DatabaseReaderException naming the
// method that hit the end, and the cursor stays where it was. Not synchronised: one thread uses a
// reader at a time.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "exceptions/Exception.h"

namespace util::database {

static_assert(std::endian::native == std::endian::little,
              "Stored blobs are little-endian and are read and written by copying raw bytes");

// A read would go past the end of the data: the blob is cut short or one of its sizes is wrong.
class DatabaseReaderException : public exceptions::Exception {
public:
    using Exception::Exception;
};

class DatabaseReader {
public:
    // The corruption messages, one per reading method.
    static constexpr std::string_view PrimitiveCorrupt =
        "The database is corrupt, the size of a member exceeds the database size. Method "
        "getNextPrimitive.";
    static constexpr std::string_view StringCorrupt =
        "The database is corrupt, the size of a member exceeds the database size. Method "
        "getNextString.";
    static constexpr std::string_view CharStreamCorrupt =
        "The database is corrupt, the size of a member exceeds the database size. Method "
        "getNextCharStream.";

    // Reads data where it is, so data must outlive the reader.
    explicit DatabaseReader(std::string_view data) : _data(data) {}
    // Takes data over without copying it.
    explicit DatabaseReader(std::string&& data) noexcept : _owned(std::move(data)), _data(_owned) {}
    // The data may be the reader's own, which a copy or a move would leave behind.
    DatabaseReader(const DatabaseReader&) = delete;
    DatabaseReader& operator=(const DatabaseReader&) = delete;

    // One fixed-size value (an integer, a double or one packed record), copied raw.
    template <class T>
    void getNextPrimitive(T& value);
    // A u32 byte length, then that many bytes.
    void getNextString(std::string& out);
    // size bytes; out is resized to size.
    void getNextCharStream(std::string& out, std::uint64_t size);
    void getNextCharStream(std::vector<unsigned char>& out, std::uint64_t size);
    // count packed records of sizeof(T) bytes each, as one byte run: the room for them is only
    // allocated once the data is known to hold them all.
    template <class T, class Allocator>
    void getNextRecords(std::vector<T, Allocator>& out, std::uint64_t count);

    // Passes over size bytes without copying them; the same check as getNextCharStream.
    void skipCharStream(std::uint64_t size);
    // Throws the getNextCharStream corruption message unless size bytes are left, so a caller
    // can refuse a size before it allocates room for it.
    void requireCharStream(std::uint64_t size) const;

    std::size_t position() const { return _position; }
    std::size_t size() const { return _data.size(); }
    std::uint64_t remaining() const { return _data.size() - _position; }
    bool atEnd() const { return _position == _data.size(); }

private:
    bool fits(std::uint64_t size) const { return size <= remaining(); }
    const char* cursor() const { return _data.data() + _position; }

    std::string _owned;
    std::string_view _data;
    std::size_t _position = 0;
};

template <class T>
void DatabaseReader::getNextPrimitive(T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!fits(sizeof(T))) throw DatabaseReaderException(PrimitiveCorrupt);
    std::memcpy(&value, cursor(), sizeof(T));
    _position += sizeof(T);
}

template <class T, class Allocator>
void DatabaseReader::getNextRecords(std::vector<T, Allocator>& out, std::uint64_t count) {
    static_assert(std::is_trivially_copyable_v<T> && alignof(T) == 1);
    // Dividing instead of multiplying keeps a huge count from wrapping around.
    if (count > remaining() / sizeof(T)) throw DatabaseReaderException(CharStreamCorrupt);
    const auto* first = reinterpret_cast<const T*>(cursor());
    out.assign(first, first + count);
    _position += static_cast<std::size_t>(count) * sizeof(T);
}

}  // namespace util::database
