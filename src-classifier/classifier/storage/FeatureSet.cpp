#include "classifier/storage/FeatureSet.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "classifier/ClassifierException.h"
#include "classifier/storage/VectorLaneFactory.h"
#include "debug/assertion.h"
#include "util/database/DatabaseReader.h"
#include "util/database/DatabaseWriter.h"

namespace norvale::classifier::storage {

namespace {

// A stored class record: name length, class index, count and unique, with an empty name.
constexpr std::size_t MinClassRecordSize = 4 + 2 + 4 + 4;
constexpr std::size_t LaneHeaderSize = 4;

std::string quoted(std::string_view opening, std::string_view name, std::string_view closing) {
    std::string message(opening);
    message.append(name).append(closing);
    return message;
}

}  // namespace

FeatureSet::FeatureSet() {
    const VectorLaneFactory factory;
    _lanes.reserve(VectorLaneFactory::LaneCount);
    for (std::size_t k = 0; k < VectorLaneFactory::LaneCount; ++k) {
        _lanes.push_back(factory.create(k));
    }
}

FeatureSet::FeatureSet(const FeatureSet& other) : _classes(other._classes) {
    const VectorLaneFactory factory;
    _lanes.reserve(other._lanes.size());
    for (std::size_t k = 0; k < other._lanes.size(); ++k) {
        _lanes.push_back(factory.copy(k, *other._lanes[k]));
    }
}

// The lanes are released before the class records, the reverse of their construction.
FeatureSet::~FeatureSet() {
    _lanes.clear();
}

void FeatureSet::swap(FeatureSet& other) noexcept {
    _classes.swap(other._classes);
    _lanes.swap(other._lanes);
}

void FeatureSet::addClass(std::string_view name) {
    if (name.empty()) throw ClassifierException("Trying to add a class with an empty name.");
    if (classExists(name)) {
        throw ClassifierException(
            quoted("Trying to add an already existing class with the name '", name,
                   "'. Use classExists to find out if a class already is added."));
    }
    ClassRecord record;
    record._name = name;
    record._classIndex = static_cast<std::uint16_t>(_classes.size());
    _classes.push_back(std::move(record));
}

FeatureSet::Classes::const_iterator FeatureSet::findClass(std::string_view name) const {
    for (auto record = _classes.begin(); record != _classes.end(); ++record) {
        if (record->_name == name) return record;
    }
    return _classes.end();
}

bool FeatureSet::classExists(std::string_view name) const {
    return findClass(name) != _classes.end();
}

const ClassRecord& FeatureSet::getClass(std::string_view name) const {
    const auto record = findClass(name);
    if (record == _classes.end()) {
        throw ClassifierException(
            quoted("Trying to get a nonexisting class with the name '", name, "'."));
    }
    return *record;
}

void FeatureSet::removeClass(std::string_view name) {
    const auto found = findClass(name);
    if (found == _classes.end()) {
        throw ClassifierException(
            quoted("Trying to remove a nonexisting class with the name '", name, "'."));
    }
    const std::uint16_t removed = found->_classIndex;
    for (const auto& lane : _lanes) lane->removeClass(removed);
    _classes.erase(found);
    for (std::size_t i = removed; i < _classes.size(); ++i) {
        _classes[i]._classIndex = static_cast<std::uint16_t>(i);
    }
}

void FeatureSet::checkFeatureSize(std::string_view feature) const {
    QM_ASSERT(feature.size() < _lanes.size(), "Add with feature bigger than max allowed size (32)");
}

void FeatureSet::addAt(std::size_t classIndex, std::string_view feature, std::uint32_t count) {
    checkFeatureSize(feature);
    QM_ASSERT_TEXT(classIndex < _classes.size(), "classIndex < _classes.size()",
                   "Adding to a class index that does not exist");
    ClassRecord& record = _classes[classIndex];
    if (_lanes[feature.size()]->add(feature, record._classIndex, count)) ++record._unique;
    record._count += count;
}

std::uint32_t FeatureSet::subAt(std::size_t classIndex, std::string_view feature,
                                std::uint32_t count) {
    checkFeatureSize(feature);
    QM_ASSERT_TEXT(classIndex < _classes.size(), "classIndex < _classes.size()",
                   "Taking from a class index that does not exist");
    ClassRecord& record = _classes[classIndex];
    std::uint32_t removed = 0;
    if (_lanes[feature.size()]->sub(feature, record._classIndex, count, removed)) {
        QM_ASSERT_TEXT(record._unique > 0, "_unique > 0", "Removing unique below zero.");
        --record._unique;
    }
    QM_ASSERT_TEXT(removed <= record._count, "count <= _count",
                   "Removing more count than current count");
    record._count -= removed;
    return removed;
}

void FeatureSet::compact() {
    for (const auto& lane : _lanes) lane->compact();
}

void FeatureSet::compactBacklog(std::size_t changes) {
    std::size_t records = 0;
    for (const auto& lane : _lanes) records += lane->recordCount();
    if (changes * RequestShare >= records) {
        compact();
        return;
    }
    for (const auto& lane : _lanes) lane->compactBacklog();
}

void FeatureSet::clear() {
    for (const auto& lane : _lanes) lane->clear();
    _classes.clear();
}

void FeatureSet::serialize(util::database::DatabaseWriter& writer) const {
    QM_ASSERT_TEXT(_classes.size() <= UINT16_MAX, "_classes.size() <= UINT16_MAX",
                   "More classes than a stored feature set can count");
    writer.reserve(serializedSize());
    writer.putPrimitive(static_cast<std::uint16_t>(_classes.size()));
    for (const ClassRecord& record : _classes) {
        writer.putString(record._name);
        writer.putPrimitive(record._classIndex);
        writer.putPrimitive(record._count);
        writer.putPrimitive(record._unique);
    }
    for (const auto& lane : _lanes) lane->serialize(writer);
}

std::size_t FeatureSet::serializedSize() const {
    std::size_t size = sizeof(std::uint16_t);
    for (const ClassRecord& record : _classes) size += MinClassRecordSize + record._name.size();
    for (const auto& lane : _lanes) size += LaneHeaderSize + lane->recordBytes();
    return size;
}

void FeatureSet::deserialize(util::database::DatabaseReader& reader) {
    clear();
    std::uint16_t classCount = 0;
    reader.getNextPrimitive(classCount);
    // A damaged count reserves no more than the data could hold.
    _classes.reserve(std::min<std::uint64_t>(classCount, reader.remaining() / MinClassRecordSize));
    for (std::uint16_t k = 0; k < classCount; ++k) {
        ClassRecord& record = _classes.emplace_back();
        reader.getNextString(record._name);
        reader.getNextPrimitive(record._classIndex);
        reader.getNextPrimitive(record._count);
        reader.getNextPrimitive(record._unique);
    }
    for (const auto& lane : _lanes) lane->deserialize(reader);
}

}  // namespace norvale::classifier::storage
