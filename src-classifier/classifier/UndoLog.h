#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvale::classifier {

// What train and untrain calls changed in a classifier's counts, newest last, so that the
// classifier can take them back (Classifier::undo). A call reserves room for its changes before
// it changes anything, so noting them cannot fail.
class UndoLog {
public:
    struct Change {
        std::size_t offset;  // of the feature's bytes in the log
        std::uint16_t size;
        std::uint16_t classIndex;
        std::uint32_t amount;
        bool trained;  // the amount was added (else taken away)
    };

    bool empty() const { return _changes.empty(); }
    void clear() noexcept {
        _changes.clear();
        _features.clear();
    }
    // Room for count more changes whose features take bytes in all; grows geometrically, so that
    // a request of many calls reserves in amortised constant time.
    void reserve(std::size_t count, std::size_t bytes) {
        grow(_changes, _changes.size() + count);
        grow(_features, _features.size() + bytes);
    }
    void note(std::string_view feature, std::uint16_t classIndex, std::uint32_t amount,
              bool trained) noexcept {
        _changes.push_back(Change{_features.size(), static_cast<std::uint16_t>(feature.size()),
                                  classIndex, amount, trained});
        _features.append(feature);
    }
    const std::vector<Change>& changes() const { return _changes; }
    std::string_view feature(const Change& change) const {
        return std::string_view(_features).substr(change.offset, change.size);
    }

private:
    template <typename Container>
    static void grow(Container& container, std::size_t needed) {
        if (needed > container.capacity()) {
            container.reserve(std::max(needed, 2 * container.capacity()));
        }
    }

    std::vector<Change> _changes;
    std::string _features;
};

}  // namespace norvale::classifier
