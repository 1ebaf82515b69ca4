#pragma once

// A lane stores, for every feature of one fixed byte length and every class, how often the
// feature was trained into the class. Writes (add, sub) may leave the lane uncompacted; every
// read and removeClass need a compacted lane. A lane is not synchronised: concurrent readers
// are fine on a compacted lane while no writer runs, writers need exclusive access.

#include <cstdint>
#include <string_view>

#include "classifier/storage/StorageTypes.h"

namespace util::database {
class DatabaseReader;
class DatabaseWriter;
}  // namespace util::database

namespace norvale::classifier::storage {

class LaneBase {
public:
    virtual ~LaneBase() = default;

    // True when other is a lane of the same kind and length holding the same packed records.
    virtual bool equals(const LaneBase& other) const = 0;
    // Drops every record of classIndex and moves every higher class index down by one.
    virtual void removeClass(std::uint16_t classIndex) = 0;
    // Adds count (> 0); true when the pair had no non-zero count before.
    virtual bool add(std::string_view feature, std::uint16_t classIndex, std::uint32_t count) = 0;
    // Takes away up to count (> 0); removed receives the amount taken; true when the pair's
    // count became zero.
    virtual bool sub(std::string_view feature, std::uint16_t classIndex, std::uint32_t count,
                     std::uint32_t& removed) = 0;
    // Merges what was trained since the last compaction into the sorted records.
    virtual void compact() = 0;
    virtual void clear() = 0;
    // The pair's count, 0 when absent.
    virtual std::uint32_t getCount(std::string_view feature, std::uint16_t classIndex) const = 0;
    // Resets accessor and fills it with the feature's counts per class.
    virtual ParameterAccessor& getParameters(std::string_view feature,
                                             ParameterAccessor& accessor) const = 0;
    virtual std::uint32_t getTotalCount() const = 0;
    // Number of distinct features.
    virtual std::uint32_t getUniqueCount() const = 0;
    virtual LaneIterator begin() const = 0;
    virtual LaneIterator end() const = 0;
    // Appends the lane's stored form: the record count (u32), then the packed records in
    // feature order, byte for byte. Needs a compacted lane.
    virtual void serialize(util::database::DatabaseWriter& writer) const = 0;
    // Replaces the content with a stored form read at the reader's cursor, taken as it is: record
    // order, duplicates, class indexes and zero counts are not checked. A record count the data
    // cannot hold is refused before room for the records is allocated. Leaves the lane compacted
    // on success and empty on failure.
    virtual void deserialize(util::database::DatabaseReader& reader) = 0;
};

}  // namespace norvale::classifier::storage
