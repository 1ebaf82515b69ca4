#pragma once

// The whole trained state of one classifier: its classes in the order they were added and, in 32
// lanes by feature length (0 to 31 bytes), how often each feature was trained into each class.
// The owning classifier decides when to compact; removeClass needs compacted lanes, while lookups
// and serialisation see the same counts before compaction as after. Not synchronised: concurrent
// readers are fine on a compacted set while no writer runs, writers need exclusive access.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "classifier/storage/LaneBase.h"
#include "classifier/storage/StorageTypes.h"

namespace util::database {
class DatabaseReader;
class DatabaseWriter;
}  // namespace util::database

namespace norvale::classifier::storage {

class FeatureSet {
public:
    using Classes = std::vector<ClassRecord>;
    static constexpr std::size_t RequestShare = 64;
    // Class indexes and the stored class count are 16-bit; the set's users keep within it.
    static constexpr std::size_t MaxClasses = 65535;

    // No classes and 32 empty lanes.
    FeatureSet();
    // A deep, independent copy, including what the lanes have not compacted yet.
    FeatureSet(const FeatureSet& other);
    FeatureSet& operator=(const FeatureSet& other) = delete;
    ~FeatureSet();

    void swap(FeatureSet& other) noexcept;

    // Appends an empty class. Throws ClassifierException for an empty or existing name.
    void addClass(std::string_view name);
    // The class of exactly this name (bytes compared), or classes().end().
    Classes::const_iterator findClass(std::string_view name) const;
    bool classExists(std::string_view name) const;
    // Throws ClassifierException when there is no such class.
    const ClassRecord& getClass(std::string_view name) const;
    // Drops the class and its counts and moves every later class down one index. Needs compact
    // lanes; throws ClassifierException when there is no such class.
    void removeClass(std::string_view name);

    // Adds count (> 0) occurrences of feature (at most 31 bytes) to the class at classIndex
    // (< classCount()).
    void addAt(std::size_t classIndex, std::string_view feature, std::uint32_t count);
    // Takes away up to count (> 0) occurrences from the class at classIndex; taking more than
    // present takes what is present. Returns the amount taken.
    std::uint32_t subAt(std::size_t classIndex, std::string_view feature, std::uint32_t count);

    // Merges every lane's training since the last compaction into its sorted records.
    void compact();
    // The same where it is worth it: everywhere when changes (what the caller just changed)
    // come to 1/RequestShare of the records, so that compacting costs at most a multiple of the
    // change; else in the lanes whose own backlog has grown large (see
    // LaneBase::compactBacklog). Reads and serialisation do not need it, but reads of pending
    // pairs cost more.
    void compactBacklog(std::size_t changes);
    // Empties every lane and the class table.
    void clear();

    // Appends the stored form: the class count (u16), one record per class in class order (name
    // as a string, u16 class index, u32 count, u32 unique), then the 32 lanes in length order.
    void serialize(util::database::DatabaseWriter& writer) const;
    // The number of bytes serialize appends.
    std::size_t serializedSize() const;
    // Replaces the content with a stored form read at the reader's cursor, taken as it is (no
    // class index, record order or count is checked). Throws the reader's
    // DatabaseReaderException when the data ends early; the set is then left cleared and loaded
    // up to the failing item, so callers load into a set they can throw away.
    void deserialize(util::database::DatabaseReader& reader);

    std::size_t classCount() const { return _classes.size(); }
    const ClassRecord& classAt(std::size_t classIndex) const { return _classes[classIndex]; }
    const Classes& classes() const { return _classes; }

    // One lane per feature length; laneCount() is the length limit (features are shorter).
    std::size_t laneCount() const { return _lanes.size(); }
    const LaneBase& lane(std::size_t featureSize) const { return *_lanes[featureSize]; }

private:
    void checkFeatureSize(std::string_view feature) const;

    Classes _classes;
    std::vector<std::unique_ptr<LaneBase>> _lanes;
};

}  // namespace norvale::classifier::storage
