#pragma once

// The lane for features of exactly N bytes (N = 0..31). _permanent is a vector of packed records
// sorted by feature bytes (unsigned) and then class index; training since the last compaction
// collects in the hash map _pending (and the feature in _pendingFeatures), and a pair untrained
// to zero keeps its record or its _pending entry with count 0 until compact() drops it, so that
// training it again allocates nothing. Reads see _permanent and _pending together. _index finds
// a feature's ordinal (its place among the distinct features of _permanent) by hashing: an
// open-addressing table; _starts holds the position of each ordinal's first record in
// _permanent. Both are built whenever the records move
// (compaction, load, removeClass) and never stored. Not synchronised (see LaneBase).

#include <algorithm>
#include <array>
#include <boost/container_hash/hash.hpp>
#include <boost/unordered_map.hpp>
#include <boost/unordered_set.hpp>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "classifier/storage/LaneBase.h"
#include "classifier/storage/MappedAllocator.h"
#include "classifier/storage/StorageTypes.h"
#include "debug/assertion.h"
#include "util/database/DatabaseReader.h"
#include "util/database/DatabaseWriter.h"

namespace norvale::classifier::storage {

template <std::size_t N>
class VectorLane final : public LaneBase {
public:
    using Record = LaneRecord<N>;
    static_assert(sizeof(Record) == Record::Size && alignof(Record) == 1);

    struct PendingKey {
        std::array<unsigned char, N> _feature;
        std::uint16_t _classIndex;

        bool operator==(const PendingKey& other) const = default;
    };

    // Boost's range hash over the feature bytes taken as signed char, then the class index,
    // both combined into a seed of 0.
    struct PendingHash {
        std::size_t operator()(const PendingKey& key) const {
            const auto* bytes = reinterpret_cast<const signed char*>(key._feature.data());
            std::size_t seed = 0;
            boost::hash_combine(seed, boost::hash_range(bytes, bytes + N));
            boost::hash_combine(seed, key._classIndex);
            return seed;
        }
    };

    using PendingMap = boost::unordered_map<PendingKey, std::uint32_t, PendingHash>;
    using Feature = std::array<unsigned char, N>;
    struct FeatureHash {
        std::size_t operator()(const Feature& feature) const { return hashFeature(feature.data()); }
    };
    using PendingFeatures = boost::unordered_set<Feature, FeatureHash>;

    VectorLane() : _pending(makePending()), _pendingFeatures(makePendingFeatures()) {}
    VectorLane(const VectorLane& other) = default;
    VectorLane& operator=(const VectorLane& other) = delete;

    void removeClass(std::uint16_t classIndex) override;
    bool add(std::string_view feature, std::uint16_t classIndex, std::uint32_t count) override;
    bool sub(std::string_view feature, std::uint16_t classIndex, std::uint32_t count,
             std::uint32_t& removed) override;
    void compact() override;
    void clear() override;
    ParameterAccessor& getParameters(std::string_view feature,
                                     ParameterAccessor& accessor) const override;
    ParameterAccessor& getPendingParameters(std::string_view feature,
                                            ParameterAccessor& accessor) const override {
        checkFeature(feature);
        accessor.reset();
        if (!_pending.empty()) addPending(bytesOf(feature), accessor);
        return accessor;
    }
    bool hasPending() const override { return !_pending.empty(); }
    std::size_t recordCount() const override { return compactedSize(); }
    std::size_t recordBytes() const override { return compactedSize() * Record::Size; }
    void compactBacklog() override {
        const std::size_t backlog = _pending.size() + static_cast<std::size_t>(_permaDeleted);
        if (backlog != 0 && backlog * BacklogShare >= _permanent.size()) compact();
    }
    std::uint32_t featureCount() const override {
        return static_cast<std::uint32_t>(_starts.size());
    }
    std::uint32_t findFeature(std::string_view feature) const override;
    void startProbe(std::string_view feature, Probe& probe) const override;
    void advanceProbe(Probe& probe) const override;
    std::uint32_t findFeature(std::string_view feature, const Probe& probe) const override;
    std::size_t lookupBytes() const override {
        return (_index.capacity() + _starts.capacity()) * sizeof(std::uint32_t);
    }
    LaneIterator begin() const override;
    LaneIterator end() const override;
    void serialize(util::database::DatabaseWriter& writer) const override;
    void deserialize(util::database::DatabaseReader& reader) override;

    bool isCompact() const { return _permaDeleted == 0 && _pending.empty(); }

private:
    using Records = std::vector<Record, MappedAllocator<Record>>;

    // The bucket count asked for a fresh map; Boost may round it up to its next bucket size.
    static constexpr std::size_t InitialBuckets = 11;

    static PendingMap makePending() {
        PendingMap pending(InitialBuckets);
        pending.max_load_factor(1.0f);
        return pending;
    }
    static PendingFeatures makePendingFeatures() {
        PendingFeatures features(InitialBuckets);
        features.max_load_factor(1.0f);
        return features;
    }
    static const unsigned char* bytesOf(std::string_view feature) {
        return reinterpret_cast<const unsigned char*>(feature.data());
    }
    static PendingKey makeKey(std::string_view feature, std::uint16_t classIndex);
    template <typename Vector>
    static std::size_t grown(const Vector& vector) {
        return vector.capacity() + vector.capacity() / 2;
    }
    static bool lessInFeatureOrder(const Record& left, const Record& right);

    void checkFeature(std::string_view feature) const {
        QM_ASSERT_TEXT(feature.size() == N, "feature.size() == N",
                       "A feature has other than lane size");
    }
    void checkCompact() const {
        QM_ASSERT(isCompact(), "The lane has not been compacted since training");
    }
    using Index = std::vector<std::uint32_t, MappedAllocator<std::uint32_t>>;
    using Starts = std::vector<std::uint32_t, MappedAllocator<std::uint32_t>>;

    static std::uint64_t hashFeature(const unsigned char* feature);
    static bool sameFeature(const unsigned char* left, const unsigned char* right);
    // Fills index, already sized to a power of two of at least twice the distinct features of
    // records, with one slot per run of equal features: 1 + its ordinal; starts, whose capacity
    // holds the distinct features, receives the position of each ordinal's first record.
    static void fillIndex(const Records& records, Index& index, Starts& starts);
    // The index and starts for records, sized for their distinct features.
    static void buildIndex(const Records& records, Index& index, Starts& starts);
    // The index size for this many distinct features: a power of two of at least twice as many.
    static std::size_t indexSlots(std::size_t distinct) {
        std::size_t slots = distinct == 0 ? 0 : 2;
        while (slots < 2 * distinct) slots *= 2;
        return slots;
    }
    // The number of records compaction leaves.
    std::size_t compactedSize() const {
        return _permanent.size() - static_cast<std::size_t>(_permaDeleted) + _pending.size() -
               _pendingDeleted;
    }
    // The non-zero pairs of _pending, in feature order.
    Records sortedPending() const;
    // What compaction leaves: the records without the zero counts, merged with the non-zero
    // pairs of _pending, in feature order.
    Records merged() const;
    // The distinct features of what merging trained into the records would leave.
    std::size_t mergedFeatureCount(const Records& trained) const;
    // Merges trained into _permanent in place, dropping the zero counts; _permanent's capacity
    // must hold the result. Does not allocate.
    void mergeInPlace(const Records& trained) noexcept;
    // Fills accessor with the feature's non-zero counts in _pending.
    void addPending(const unsigned char* feature, ParameterAccessor& accessor) const;
    // The ordinal of the feature of this hash, or NoFeature.
    std::uint32_t findOrdinal(const unsigned char* feature, std::uint64_t hash) const;
    // The first record of the feature, or null.
    const Record* findFirst(const unsigned char* feature) const;
    Record* findPair(const unsigned char* feature, std::uint16_t classIndex);
    const Record* findPair(const unsigned char* feature, std::uint16_t classIndex) const;

    Records _permanent;
    Index _index;
    Starts _starts;
    PendingMap _pending;
    PendingFeatures _pendingFeatures;
    std::int32_t _permaDeleted = 0;
    std::size_t _pendingDeleted = 0;  // entries of _pending with count 0
};

template <std::size_t N>
typename VectorLane<N>::PendingKey VectorLane<N>::makeKey(std::string_view feature,
                                                          std::uint16_t classIndex) {
    PendingKey key{};
    if constexpr (N > 0) std::memcpy(key._feature.data(), feature.data(), N);
    key._classIndex = classIndex;
    return key;
}

template <std::size_t N>
bool VectorLane<N>::lessInFeatureOrder(const Record& left, const Record& right) {
    const int order = Record::compareFeature(left.feature(), right.feature());
    return order != 0 ? order < 0 : left.classIndex() < right.classIndex();
}

template <std::size_t N>
std::uint64_t VectorLane<N>::hashFeature(const unsigned char* feature) {
    constexpr std::uint64_t Multiplier = 0x9e3779b97f4a7c15ULL;
    std::uint64_t hash = N;
    std::size_t offset = 0;
    for (; offset + 8 <= N; offset += 8) {
        std::uint64_t word;
        std::memcpy(&word, feature + offset, 8);
        hash = (hash ^ word) * Multiplier;
        hash ^= hash >> 29;
    }
    if constexpr (N % 8 != 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, feature + offset, N % 8);
        hash = (hash ^ word) * Multiplier;
        hash ^= hash >> 29;
    }
    return hash ^ (hash >> 32);
}

template <std::size_t N>
bool VectorLane<N>::sameFeature(const unsigned char* left, const unsigned char* right) {
    // Word loads of a size known here instead of a call to memcmp.
    std::size_t offset = 0;
    for (; offset + 8 <= N; offset += 8) {
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, left + offset, 8);
        std::memcpy(&b, right + offset, 8);
        if (a != b) return false;
    }
    if constexpr (N % 8 != 0) {
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        std::memcpy(&a, left + offset, N % 8);
        std::memcpy(&b, right + offset, N % 8);
        if (a != b) return false;
    }
    return true;
}

template <std::size_t N>
void VectorLane<N>::fillIndex(const Records& records, Index& index, Starts& starts) {
    std::fill(index.begin(), index.end(), 0u);
    starts.clear();
    if (index.empty()) return;
    const std::size_t mask = index.size() - 1;
    for (std::size_t position = 0; position < records.size(); ++position) {
        const unsigned char* feature = records[position].feature();
        if (position > 0 && sameFeature(records[position - 1].feature(), feature)) continue;
        std::size_t slot = hashFeature(feature) & mask;
        // A feature met again after other features (unsorted loaded records) keeps its first run.
        bool known = false;
        while (index[slot] != 0 && !known) {
            known = sameFeature(records[starts[index[slot] - 1]].feature(), feature);
            slot = (slot + 1) & mask;
        }
        if (known) continue;
        starts.push_back(static_cast<std::uint32_t>(position));
        index[slot] = static_cast<std::uint32_t>(starts.size());
    }
}

template <std::size_t N>
void VectorLane<N>::buildIndex(const Records& records, Index& index, Starts& starts) {
    QM_ASSERT_TEXT(records.size() < UINT32_MAX, "records.size() < UINT32_MAX",
                   "A lane holds more records than its index can address");
    std::size_t distinct = 0;
    for (std::size_t position = 0; position < records.size(); ++position) {
        if (position == 0 ||
            !sameFeature(records[position - 1].feature(), records[position].feature())) {
            ++distinct;
        }
    }
    Index built(indexSlots(distinct));
    Starts firsts;
    firsts.reserve(distinct);
    fillIndex(records, built, firsts);
    index.swap(built);
    starts.swap(firsts);
}

template <std::size_t N>
std::uint32_t VectorLane<N>::findOrdinal(const unsigned char* feature, std::uint64_t hash) const {
    if (_index.empty()) return NoFeature;
    const std::size_t mask = _index.size() - 1;
    for (std::size_t slot = hash & mask; _index[slot] != 0; slot = (slot + 1) & mask) {
        const std::uint32_t ordinal = _index[slot] - 1;
        if (sameFeature(_permanent[_starts[ordinal]].feature(), feature)) return ordinal;
    }
    return NoFeature;
}

template <std::size_t N>
const typename VectorLane<N>::Record* VectorLane<N>::findFirst(const unsigned char* feature) const {
    const std::uint32_t ordinal = findOrdinal(feature, hashFeature(feature));
    return ordinal == NoFeature ? nullptr : &_permanent[_starts[ordinal]];
}

template <std::size_t N>
std::uint32_t VectorLane<N>::findFeature(std::string_view feature) const {
    checkFeature(feature);
    return findOrdinal(bytesOf(feature), hashFeature(bytesOf(feature)));
}

template <std::size_t N>
void VectorLane<N>::startProbe(std::string_view feature, Probe& probe) const {
    checkFeature(feature);
    probe = Probe{hashFeature(bytesOf(feature)), NoFeature, false};
    if (!_index.empty()) __builtin_prefetch(&_index[probe._hash & (_index.size() - 1)]);
}

template <std::size_t N>
void VectorLane<N>::advanceProbe(Probe& probe) const {
    if (_index.empty()) return;
    if (!probe._advanced) {
        probe._advanced = true;
        const std::uint32_t slot = _index[probe._hash & (_index.size() - 1)];
        if (slot == 0) return;
        probe._candidate = slot - 1;
        __builtin_prefetch(&_starts[probe._candidate]);
    } else if (probe._candidate != NoFeature) {
        __builtin_prefetch(&_permanent[_starts[probe._candidate]]);
    }
}

template <std::size_t N>
std::uint32_t VectorLane<N>::findFeature(std::string_view feature, const Probe& probe) const {
    checkFeature(feature);
    return findOrdinal(bytesOf(feature), probe._hash);
}

template <std::size_t N>
const typename VectorLane<N>::Record* VectorLane<N>::findPair(const unsigned char* feature,
                                                              std::uint16_t classIndex) const {
    const Record* record = findFirst(feature);
    if (record == nullptr) return nullptr;
    // The records of a feature follow each other in class order.
    const Record* const end = _permanent.data() + _permanent.size();
    for (; record != end && sameFeature(record->feature(), feature); ++record) {
        if (record->classIndex() >= classIndex) {
            return record->classIndex() == classIndex ? record : nullptr;
        }
    }
    return nullptr;
}

template <std::size_t N>
typename VectorLane<N>::Record* VectorLane<N>::findPair(const unsigned char* feature,
                                                        std::uint16_t classIndex) {
    return const_cast<Record*>(std::as_const(*this).findPair(feature, classIndex));
}

template <std::size_t N>
void VectorLane<N>::removeClass(std::uint16_t classIndex) {
    checkCompact();
    // One pass that keeps every record not of classIndex in place order, which is what erasing
    // each such record in turn would leave, without moving the tail once per erased record.
    auto kept = _permanent.begin();
    for (auto record = _permanent.begin(); record != _permanent.end(); ++record) {
        const std::uint16_t oldIndex = record->classIndex();
        if (oldIndex == classIndex) continue;
        if (oldIndex > classIndex) {
            record->setClassIndex(static_cast<std::uint16_t>(oldIndex - 1));
            QM_ASSERT_TEXT(record->classIndex() == oldIndex - 1, "classIndex == _classIndex - 1",
                           "Packing class indexes seems wrong");
        }
        if (kept != record) *kept = *record;
        ++kept;
    }
    _permanent.erase(kept, _permanent.end());
    // No more distinct features than before, so the table keeps its size and nothing allocates.
    fillIndex(_permanent, _index, _starts);
}

template <std::size_t N>
bool VectorLane<N>::add(std::string_view feature, std::uint16_t classIndex, std::uint32_t count) {
    checkFeature(feature);
    QM_ASSERT(count > 0, "Trying to add zero or below feature count");
    if (Record* record = findPair(bytesOf(feature), classIndex)) {
        const std::uint32_t old = record->count();
        if (old == 0) {
            QM_ASSERT(_permaDeleted > 0, "Perma deleted is becomming zero.");
            --_permaDeleted;
        }
        record->setCount(old + count);
        return old == 0;
    }
    const PendingKey key = makeKey(feature, classIndex);
    if (const auto entry = _pending.find(key); entry != _pending.end()) {
        const bool revived = entry->second == 0;
        if (revived) --_pendingDeleted;
        entry->second += count;
        return revived;
    }
    // Should the pair's insertion fail, the feature is listed without a pair, which reads ignore.
    _pendingFeatures.insert(key._feature);
    _pending.emplace(key, count);
    return true;
}

template <std::size_t N>
bool VectorLane<N>::sub(std::string_view feature, std::uint16_t classIndex, std::uint32_t count,
                        std::uint32_t& removed) {
    checkFeature(feature);
    QM_ASSERT(count > 0, "Trying to sub zero or below feature count");
    removed = 0;
    if (Record* record = findPair(bytesOf(feature), classIndex)) {
        const std::uint32_t old = record->count();
        if (old == 0) return false;
        removed = std::min(old, count);
        record->setCount(old - removed);
        if (removed < old) return false;
        ++_permaDeleted;
        return true;
    }
    const auto entry = _pending.find(makeKey(feature, classIndex));
    if (entry == _pending.end() || entry->second == 0) return false;
    removed = std::min(entry->second, count);
    entry->second -= removed;
    if (entry->second != 0) return false;
    ++_pendingDeleted;
    return true;
}

template <std::size_t N>
typename VectorLane<N>::Records VectorLane<N>::sortedPending() const {
    Records trained;
    trained.reserve(_pending.size() - _pendingDeleted);
    for (const auto& [key, count] : _pending) {
        if (count == 0) continue;
        Record& record = trained.emplace_back();
        record.setFeature(key._feature.data());
        record.setClassIndex(key._classIndex);
        record.setCount(count);
    }
    std::sort(trained.begin(), trained.end(), [](const Record& left, const Record& right) {
        return lessInFeatureOrder(left, right);
    });
    return trained;
}

template <std::size_t N>
typename VectorLane<N>::Records VectorLane<N>::merged() const {
    // Only the pairs trained since the last compaction get sorted; they are merged into the
    // sorted records in one pass that also drops the records untrained to zero. The keys of
    // _pending are never in _permanent (add revives those in place), so no two compare equal.
    const Records trained = sortedPending();
    const auto inFeatureOrder = [](const Record& left, const Record& right) {
        return lessInFeatureOrder(left, right);
    };
    Records tmp;
    tmp.reserve(compactedSize());
    auto next = trained.cbegin();
    for (const Record& record : _permanent) {
        if (record.count() == 0) continue;
        for (; next != trained.cend() && inFeatureOrder(*next, record); ++next) {
            tmp.push_back(*next);
        }
        tmp.push_back(record);
    }
    tmp.insert(tmp.end(), next, trained.cend());
    QM_ASSERT(tmp.size() == compactedSize(), "Unexpected size on new feature vector.");
    return tmp;
}

template <std::size_t N>
std::size_t VectorLane<N>::mergedFeatureCount(const Records& trained) const {
    std::size_t distinct = 0;
    const Record* last = nullptr;
    const auto count = [&](const Record& record) {
        if (last == nullptr || !sameFeature(last->feature(), record.feature())) ++distinct;
        last = &record;
    };
    auto next = trained.cbegin();
    for (const Record& record : _permanent) {
        if (record.count() == 0) continue;
        for (; next != trained.cend() && lessInFeatureOrder(*next, record); ++next) count(*next);
        count(record);
    }
    for (; next != trained.cend(); ++next) count(*next);
    return distinct;
}

template <std::size_t N>
void VectorLane<N>::mergeInPlace(const Records& trained) noexcept {
    auto kept = _permanent.begin();
    for (auto record = _permanent.begin(); record != _permanent.end(); ++record) {
        if (record->count() == 0) continue;
        if (kept != record) *kept = *record;
        ++kept;
    }
    std::size_t old = static_cast<std::size_t>(kept - _permanent.begin());
    std::size_t added = trained.size();
    _permanent.resize(old + added);  // within the capacity
    // From the back, the greater of the two next records goes last; nothing unread is written
    // over, since the place written stays past the records still to read.
    while (added != 0) {
        const Record& next = trained[added - 1];
        if (old != 0 && lessInFeatureOrder(next, _permanent[old - 1])) {
            _permanent[old + added - 1] = _permanent[old - 1];
            --old;
        } else {
            _permanent[old + added - 1] = next;
            --added;
        }
    }
}

template <std::size_t N>
void VectorLane<N>::compact() {
    if (isCompact()) return;
    // The records are merged where they are, and the index and starts are filled where they are
    // when they are large enough; they grow by half at a time. Fresh memory is faulted in page
    // by page, which costs more than the merge itself, so a lane that compacts after every bulk
    // request reuses its vectors instead of allocating them again.
    const Records trained = sortedPending();
    const std::size_t size = compactedSize();
    QM_ASSERT_TEXT(size < UINT32_MAX, "size < UINT32_MAX",
                   "A lane holds more records than its index can address");
    const std::size_t distinct = mergedFeatureCount(trained);
    const std::size_t slots = indexSlots(distinct);
    Index index;
    if (slots != _index.size()) index.resize(slots);
    Starts starts;
    if (distinct > _starts.capacity()) starts.reserve(std::max(distinct, grown(_starts)));
    if (size > _permanent.capacity()) _permanent.reserve(std::max(size, grown(_permanent)));
    PendingMap fresh = makePending();
    PendingFeatures freshFeatures = makePendingFeatures();

    // Everything that can fail is done; from here on nothing throws.
    mergeInPlace(trained);
    if (slots != _index.size()) _index.swap(index);
    if (starts.capacity() != 0) _starts.swap(starts);
    fillIndex(_permanent, _index, _starts);
    _pending.swap(fresh);
    _pendingFeatures.swap(freshFeatures);
    _permaDeleted = 0;
    _pendingDeleted = 0;
}

template <std::size_t N>
void VectorLane<N>::clear() {
    PendingMap fresh = makePending();
    PendingFeatures freshFeatures = makePendingFeatures();
    _permanent.clear();
    _index.clear();
    _starts.clear();
    _pending.swap(fresh);
    _pendingFeatures.swap(freshFeatures);
    _permaDeleted = 0;
    _pendingDeleted = 0;
}

template <std::size_t N>
ParameterAccessor& VectorLane<N>::getParameters(std::string_view feature,
                                                ParameterAccessor& accessor) const {
    checkFeature(feature);
    accessor.reset();
    const unsigned char* key = bytesOf(feature);
    if (const Record* parameter = findFirst(key)) {
        const char* featurePtr = reinterpret_cast<const char*>(parameter->feature());
        QM_ASSERT(featurePtr != nullptr, "Setting null feature ptr");
        accessor.setFeaturePtr(featurePtr);
        const Record* const end = _permanent.data() + _permanent.size();
        for (; parameter != end && sameFeature(parameter->feature(), key); ++parameter) {
            const std::uint16_t classIndex = parameter->classIndex();
            QM_ASSERT_TEXT(classIndex < accessor.parameters().size(),
                           "parameter.classIndex() < _parameters.size()",
                           "The parameter accessor array is to short");
            QM_ASSERT_TEXT(accessor.parameter(classIndex) == 0,
                           "_parameters[parameter.classIndex()] == 0",
                           "Overwriting a parameter accessor count");
            // A record untrained to zero since the last compaction is not there for readers.
            if (parameter->count() != 0) accessor.setParameter(classIndex, parameter->count());
        }
    }
    if (!_pending.empty()) addPending(key, accessor);
    return accessor;
}

template <std::size_t N>
void VectorLane<N>::addPending(const unsigned char* feature, ParameterAccessor& accessor) const {
    Feature bytes{};
    if constexpr (N > 0) std::memcpy(bytes.data(), feature, N);
    if (_pendingFeatures.find(bytes) == _pendingFeatures.end()) return;
    const std::size_t classes = accessor.parameters().size();
    for (std::size_t classIndex = 0; classIndex < classes; ++classIndex) {
        const auto entry = _pending.find(PendingKey{bytes, static_cast<std::uint16_t>(classIndex)});
        if (entry == _pending.end() || entry->second == 0) continue;
        if (accessor.featurePtr() == nullptr) {
            accessor.setFeaturePtr(reinterpret_cast<const char*>(entry->first._feature.data()));
        }
        QM_ASSERT_TEXT(accessor.parameter(classIndex) == 0, "_parameters[classIndex] == 0",
                       "A pair is both stored and pending");
        accessor.setParameter(static_cast<std::uint16_t>(classIndex), entry->second);
    }
}

template <std::size_t N>
LaneIterator VectorLane<N>::begin() const {
    checkCompact();
    const auto* first = _permanent.empty() ? nullptr : _permanent.front()._bytes;
    return LaneIterator(first, Record::Size, N);
}

template <std::size_t N>
LaneIterator VectorLane<N>::end() const {
    checkCompact();
    const auto* last = _permanent.empty() ? nullptr : _permanent.front()._bytes;
    if (last != nullptr) last += _permanent.size() * Record::Size;
    return LaneIterator(last, Record::Size, N);
}

template <std::size_t N>
void VectorLane<N>::serialize(util::database::DatabaseWriter& writer) const {
    // An uncompacted lane is written as compaction would leave it.
    const Records compacted = isCompact() ? Records() : merged();
    const Records& records = isCompact() ? _permanent : compacted;
    QM_ASSERT_TEXT(records.size() <= UINT32_MAX, "records.size() <= UINT32_MAX",
                   "A lane holds more records than its stored form can count");
    writer.putPrimitive(static_cast<std::uint32_t>(records.size()));
    writer.putBytes(records.data(), records.size() * Record::Size);
}

template <std::size_t N>
void VectorLane<N>::deserialize(util::database::DatabaseReader& reader) {
    clear();
    std::uint32_t count = 0;
    reader.getNextPrimitive(count);
    reader.getNextRecords(_permanent, count);
    // Records out of order are held only until the loader's consistency check refuses them;
    // nothing merges into them before.
    try {
        buildIndex(_permanent, _index, _starts);
    } catch (...) {
        _permanent.clear();
        throw;
    }
}

// Instantiated once, in VectorLane.cpp.
extern template class VectorLane<0>;
extern template class VectorLane<1>;
extern template class VectorLane<2>;
extern template class VectorLane<3>;
extern template class VectorLane<4>;
extern template class VectorLane<5>;
extern template class VectorLane<6>;
extern template class VectorLane<7>;
extern template class VectorLane<8>;
extern template class VectorLane<9>;
extern template class VectorLane<10>;
extern template class VectorLane<11>;
extern template class VectorLane<12>;
extern template class VectorLane<13>;
extern template class VectorLane<14>;
extern template class VectorLane<15>;
extern template class VectorLane<16>;
extern template class VectorLane<17>;
extern template class VectorLane<18>;
extern template class VectorLane<19>;
extern template class VectorLane<20>;
extern template class VectorLane<21>;
extern template class VectorLane<22>;
extern template class VectorLane<23>;
extern template class VectorLane<24>;
extern template class VectorLane<25>;
extern template class VectorLane<26>;
extern template class VectorLane<27>;
extern template class VectorLane<28>;
extern template class VectorLane<29>;
extern template class VectorLane<30>;
extern template class VectorLane<31>;

}  // namespace norvale::classifier::storage
