#pragma once

// A lane stores, for every feature of one fixed byte length and every class, how often the
// feature was trained into the class. Writes (add, sub) may leave the lane uncompacted; lookups
// and serialisation see the same counts either way, while removeClass, the iterators and the
// totals need a compacted lane. A lane is not synchronised: concurrent readers are fine while no
// writer runs, writers need exclusive access.

#include <cstddef>
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
    // What findFeature answers for a feature the lane does not hold.
    static constexpr std::uint32_t NoFeature = UINT32_MAX;

    // A lookup taken in steps, so that the memory reads of many lookups overlap: startProbe
    // hashes the feature and asks for its index slot; each advanceProbe reads what was asked for
    // and asks for the next thing (twice: the slot, then the feature's first record);
    // findFeature(feature, probe) then answers as findFeature(feature) does.
    struct Probe {
        std::uint64_t _hash = 0;
        std::uint32_t _candidate = NoFeature;
        bool _advanced = false;
    };

    // Compaction waits for changes of 1/BacklogShare of the records (see compactBacklog).
    static constexpr std::size_t BacklogShare = 8;

    virtual ~LaneBase() = default;

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
    // Whether pairs trained since the last compaction wait outside the sorted records (those
    // findFeature knows nothing of).
    virtual bool hasPending() const = 0;
    // Compacts once the changes since the last compaction come to an eighth of the records:
    // compacting costs the lane's size, so the cost per change stays constant.
    virtual void compactBacklog() = 0;
    // The records serialize writes, and their bytes.
    virtual std::size_t recordCount() const = 0;
    virtual std::size_t recordBytes() const = 0;
    virtual void clear() = 0;
    // Resets accessor and fills it with the feature's counts per class.
    virtual ParameterAccessor& getParameters(std::string_view feature,
                                             ParameterAccessor& accessor) const = 0;
    // The same for a feature findFeature does not know: only its pending counts.
    virtual ParameterAccessor& getPendingParameters(std::string_view feature,
                                                    ParameterAccessor& accessor) const = 0;
    // Number of distinct features, from what the lookups keep (a stored form whose records are out
    // of order counts each feature once all the same). Needs a compacted lane.
    virtual std::uint32_t featureCount() const = 0;
    // The feature's ordinal: a number below featureCount() that stays the feature's own until
    // the lane next changes; NoFeature when the sorted records do not hold it (it may still be
    // pending, see hasPending).
    virtual std::uint32_t findFeature(std::string_view feature) const = 0;
    virtual void startProbe(std::string_view feature, Probe& probe) const = 0;
    virtual void advanceProbe(Probe& probe) const = 0;
    virtual std::uint32_t findFeature(std::string_view feature, const Probe& probe) const = 0;
    // Bytes taken by what the lookups keep beside the records.
    virtual std::size_t lookupBytes() const = 0;
    virtual LaneIterator begin() const = 0;
    virtual LaneIterator end() const = 0;
    // Appends the lane's stored form: the record count (u32), then the packed records in
    // feature order, byte for byte, as compaction would leave them.
    virtual void serialize(util::database::DatabaseWriter& writer) const = 0;
    // Replaces the content with a stored form read at the reader's cursor, taken as it is: record
    // order, duplicates, class indexes and zero counts are not checked. A record count the data
    // cannot hold is refused before room for the records is allocated. Leaves the lane compacted
    // on success and empty on failure.
    virtual void deserialize(util::database::DatabaseReader& reader) = 0;
};

}  // namespace norvale::classifier::storage
