#pragma once

// The logarithms of the smoothed class shares, ln(e_j), of the features of one unchanged
// classifier: a row of one double per class for each distinct feature of the lanes, filled by
// the first classification that meets the feature. Rows past the memory budget are never kept;
// their features are scored afresh each time. The table belongs to one state of the feature set;
// the classifier drops it on every change.
//
// Any number of readers may look up and fill rows at once: a row is claimed by one reader, which
// fills it and then publishes it (release); the others see it only once published (acquire) and
// meanwhile compute the values themselves.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "classifier/storage/FeatureSet.h"

namespace norvale::classifier {

class ScoreTable {
public:
    // Rows for the features of set's lanes, as many as budgetBytes holds, in lane order.
    ScoreTable(const storage::FeatureSet& set, std::size_t budgetBytes);
    ScoreTable(const ScoreTable&) = delete;
    ScoreTable& operator=(const ScoreTable&) = delete;

    // The published row of the feature with this ordinal in lane laneIndex, or null.
    const double* find(std::size_t laneIndex, std::uint32_t ordinal) const;
    // A row this caller alone may fill, followed by publish; null when the row is kept by nobody
    // (past the budget) or already claimed.
    double* claim(std::size_t laneIndex, std::uint32_t ordinal);
    void publish(std::size_t laneIndex, std::uint32_t ordinal);
    // Asks the processor for the row (any ordinal, even NoFeature, is fine) ahead of find.
    void prefetch(std::size_t laneIndex, std::uint32_t ordinal) const;

    // Bytes this table may come to occupy.
    std::size_t bytes() const;

private:
    enum State : std::uint8_t { Empty = 0, Claimed = 1, Published = 2 };

    // The row number of the feature, or _rows when none is kept for it.
    std::size_t rowOf(std::size_t laneIndex, std::uint32_t ordinal) const;

    std::size_t _classes;
    std::vector<std::size_t> _firstRow;  // per lane: the row of its ordinal 0
    std::size_t _rows;
    // Frees the logs' memory, which comes from std::aligned_alloc.
    struct FreeLogs {
        void operator()(double* logs) const noexcept;
    };

    // Written only by the claimer of a row, before it publishes the row.
    std::unique_ptr<double[], FreeLogs> _logs;
    std::unique_ptr<std::atomic<std::uint8_t>[]> _states;
};

}  // namespace norvale::classifier
