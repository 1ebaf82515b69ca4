#pragma once

// The stored form of one (feature, class) count inside a lane and the per-feature lookup result.
// A lane for features of N bytes keeps its records packed, N feature bytes followed by the
// little-endian class index (u16) and count (u32), with no padding; the same bytes are written
// to classifier files. Plain values: no locking, used by whoever owns them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace norvale::classifier::storage {

// Offsets and sizes of a record for a runtime feature size. A record for the empty feature
// still carries one filler byte, so no record is shorter than 7 bytes.
struct LaneRecordLayout {
    static constexpr std::size_t classIndexOffset(std::size_t featureSize) {
        return featureSize == 0 ? 1 : featureSize;
    }
    static constexpr std::size_t countOffset(std::size_t featureSize) {
        return classIndexOffset(featureSize) + 2;
    }
    static constexpr std::size_t recordSize(std::size_t featureSize) {
        return classIndexOffset(featureSize) + 6;
    }

    static std::uint16_t loadU16(const unsigned char* bytes) {
        return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    }
    static std::uint32_t loadU32(const unsigned char* bytes) {
        return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
               (static_cast<std::uint32_t>(bytes[2]) << 16) |
               (static_cast<std::uint32_t>(bytes[3]) << 24);
    }
    static void storeU16(unsigned char* bytes, std::uint16_t value) {
        bytes[0] = static_cast<unsigned char>(value);
        bytes[1] = static_cast<unsigned char>(value >> 8);
    }
    static void storeU32(unsigned char* bytes, std::uint32_t value) {
        bytes[0] = static_cast<unsigned char>(value);
        bytes[1] = static_cast<unsigned char>(value >> 8);
        bytes[2] = static_cast<unsigned char>(value >> 16);
        bytes[3] = static_cast<unsigned char>(value >> 24);
    }
};

// One record of a lane of feature size N, exactly LaneRecordLayout::recordSize(N) bytes with
// alignment 1, so a vector of them is the packed byte image of the lane.
template <std::size_t N>
struct LaneRecord {
    static constexpr std::size_t FeatureSize = N;
    static constexpr std::size_t Size = LaneRecordLayout::recordSize(N);
    static constexpr std::size_t ClassIndexOffset = LaneRecordLayout::classIndexOffset(N);
    static constexpr std::size_t CountOffset = LaneRecordLayout::countOffset(N);

    unsigned char _bytes[Size];

    const unsigned char* feature() const { return _bytes; }
    std::string_view featureView() const { return {reinterpret_cast<const char*>(_bytes), N}; }
    std::uint16_t classIndex() const {
        return LaneRecordLayout::loadU16(_bytes + ClassIndexOffset);
    }
    std::uint32_t count() const { return LaneRecordLayout::loadU32(_bytes + CountOffset); }

    void setFeature(const unsigned char* feature) {
        if constexpr (N == 0) {
            _bytes[0] = 0;  // filler, never compared
        } else {
            std::memcpy(_bytes, feature, N);
        }
    }
    void setClassIndex(std::uint16_t classIndex) {
        LaneRecordLayout::storeU16(_bytes + ClassIndexOffset, classIndex);
    }
    void setCount(std::uint32_t count) { LaneRecordLayout::storeU32(_bytes + CountOffset, count); }

    // Unsigned byte order of the features; 0 for the empty feature.
    static int compareFeature(const unsigned char* left, const unsigned char* right) {
        if constexpr (N == 0) {
            return 0;
        } else {
            return std::memcmp(left, right, N);
        }
    }
};

// One class of a feature set. _classIndex equals the record's position in the set's class
// vector and is the index under which the lanes keep the class's counts; _count is the sum of
// all its counts and _unique the number of its features with a non-zero count.
struct ClassRecord {
    std::string _name;
    std::uint16_t _classIndex = 0;
    std::uint32_t _count = 0;
    std::uint32_t _unique = 0;

    bool operator==(const ClassRecord&) const = default;
};

// The counts of one feature in every class, filled by LaneBase::getParameters. Sized once to
// the class count at construction; every lookup resets and refills it, so one accessor serves
// all lookups of a classification. Not shared between threads.
class ParameterAccessor {
public:
    explicit ParameterAccessor(std::size_t classCount);

    // The stored feature bytes of the first record of the feature inside the lane; null when
    // the feature is absent. Valid until the lane is next changed.
    const char* featurePtr() const { return _featurePtr; }
    const std::vector<std::uint32_t>& parameters() const { return _parameters; }
    std::uint32_t parameter(std::size_t classIndex) const { return _parameters[classIndex]; }
    // Number of classes that have the feature.
    std::uint16_t classCount() const { return _classCount; }
    // Sum of the feature's counts over all classes.
    std::uint32_t total() const { return _total; }

    // Used by lanes while filling the accessor.
    void reset();
    void setFeaturePtr(const char* featurePtr) { _featurePtr = featurePtr; }
    void setParameter(std::uint16_t classIndex, std::uint32_t count) {
        _parameters[classIndex] = count;
        ++_classCount;
        _total += count;
    }

private:
    const char* _featurePtr = nullptr;
    std::vector<std::uint32_t> _parameters;
    std::uint16_t _classCount = 0;
    std::uint32_t _total = 0;
};

// Walks the packed records of a lane in feature order. Both ends of an empty lane carry a null
// record pointer.
class LaneIterator {
public:
    LaneIterator(const unsigned char* record, std::size_t recordSize, std::size_t featureSize)
        : _record(record), _recordSize(recordSize), _featureSize(featureSize) {}

    const unsigned char* record() const { return _record; }
    std::size_t recordSize() const { return _recordSize; }
    std::size_t featureSize() const { return _featureSize; }

    std::string_view feature() const {
        return {reinterpret_cast<const char*>(_record), _featureSize};
    }
    std::uint16_t classIndex() const {
        return LaneRecordLayout::loadU16(_record +
                                         LaneRecordLayout::classIndexOffset(_featureSize));
    }
    std::uint32_t count() const {
        return LaneRecordLayout::loadU32(_record + LaneRecordLayout::countOffset(_featureSize));
    }

    LaneIterator& operator++() {
        _record += _recordSize;
        return *this;
    }
    bool operator==(const LaneIterator& other) const { return _record == other._record; }

private:
    const unsigned char* _record;
    std::size_t _recordSize;
    std::size_t _featureSize;
};

}  // namespace norvale::classifier::storage
