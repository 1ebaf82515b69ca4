#include "util/database/DatabaseReader.h"

namespace util::database {

void DatabaseReader::getNextString(std::string& out) {
    std::uint32_t length = 0;
    getNextPrimitive(length);
    if (!fits(length)) throw DatabaseReaderException(StringCorrupt);
    out.assign(cursor(), length);
    _position += length;
}

void DatabaseReader::getNextCharStream(std::string& out, std::uint64_t size) {
    requireCharStream(size);
    out.assign(cursor(), static_cast<std::size_t>(size));
    _position += static_cast<std::size_t>(size);
}

void DatabaseReader::getNextCharStream(std::vector<unsigned char>& out, std::uint64_t size) {
    requireCharStream(size);
    const auto* first = reinterpret_cast<const unsigned char*>(cursor());
    out.assign(first, first + size);
    _position += static_cast<std::size_t>(size);
}

void DatabaseReader::skipCharStream(std::uint64_t size) {
    requireCharStream(size);
    _position += static_cast<std::size_t>(size);
}

void DatabaseReader::requireCharStream(std::uint64_t size) const {
    if (!fits(size)) throw DatabaseReaderException(CharStreamCorrupt);
}

}  // namespace util::database
