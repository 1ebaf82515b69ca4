#include "classifier/MemoryLane.h"

#include "classifier/storage/StorageTypes.h"
#include "util/database/DatabaseReader.h"

namespace norvale::classifier {

MemoryLane::MemoryLane(std::uint32_t tokenSize)
    : _TokenSize(tokenSize), _ChunkSize(tokenSize + 4) {}

void MemoryLane::clear() {
    _permanent.clear();
    _total = 0;
}

void MemoryLane::deserialize(util::database::DatabaseReader& reader, std::uint32_t byteLength) {
    clear();
    reader.getNextCharStream(_permanent, byteLength);
    for (std::size_t record = 0; record < recordCount(); ++record) _total += count(record);
}

const unsigned char* MemoryLane::recordAt(std::size_t record) const {
    return _permanent.data() + record * _ChunkSize;
}

std::string_view MemoryLane::token(std::size_t record) const {
    return {reinterpret_cast<const char*>(recordAt(record)), _TokenSize};
}

std::uint32_t MemoryLane::count(std::size_t record) const {
    return storage::LaneRecordLayout::loadU32(recordAt(record) + _TokenSize);
}

}  // namespace norvale::classifier
