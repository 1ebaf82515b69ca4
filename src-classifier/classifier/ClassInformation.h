#pragma once

// Per-class totals reported by Classifier::getInformation: the class name, its number of
// distinct features with a non-zero count and the sum of all its counts. A plain value.

#include <cstdint>
#include <string>
#include <utility>

namespace norvale::classifier {

class ClassInformation {
public:
    ClassInformation(std::string name, std::uint32_t uniqueFeatures, std::uint32_t totalCount)
        : _name(std::move(name)), _uniqueFeatures(uniqueFeatures), _totalCount(totalCount) {}

    const std::string& name() const { return _name; }
    std::uint32_t uniqueFeatures() const { return _uniqueFeatures; }
    std::uint32_t totalCount() const { return _totalCount; }

    bool operator==(const ClassInformation&) const = default;

private:
    std::string _name;
    std::uint32_t _uniqueFeatures;
    std::uint32_t _totalCount;
};

}  // namespace norvale::classifier
