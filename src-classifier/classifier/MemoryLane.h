#pragma once

// One lane of a TokenDistribution: the records of the tokens of exactly _TokenSize bytes, back
// to back as they were stored. A record is the token's bytes followed by its count (u32,
// little-endian); a count of 0 marks a deleted token. Only whole records count: bytes after the
// last whole record are kept but never read as a record. Not synchronised.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace util::database {
class DatabaseReader;
}  // namespace util::database

namespace norvale::classifier {

class MemoryLane {
public:
    explicit MemoryLane(std::uint32_t tokenSize);

    // Empties the records and sets the total to 0.
    void clear();
    // Replaces the records with byteLength bytes read at the reader's cursor; throws the
    // reader's getNextCharStream corruption message, before allocating, when the data is
    // shorter.
    void deserialize(util::database::DatabaseReader& reader, std::uint32_t byteLength);

    std::uint32_t tokenSize() const { return _TokenSize; }
    std::uint32_t chunkSize() const { return _ChunkSize; }
    // Number of whole records.
    std::size_t recordCount() const { return _permanent.size() / _ChunkSize; }
    std::string_view token(std::size_t record) const;
    std::uint32_t count(std::size_t record) const;
    // Sum of the counts of the whole records, modulo 2^32 as the former model kept it.
    std::uint32_t total() const { return _total; }

private:
    const unsigned char* recordAt(std::size_t record) const;

    std::uint32_t _TokenSize;
    std::uint32_t _ChunkSize;
    std::vector<unsigned char> _permanent;
    std::uint32_t _total = 0;
};

}  // namespace norvale::classifier
