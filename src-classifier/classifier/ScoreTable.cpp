#include "classifier/ScoreTable.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace norvale::classifier {

namespace {

constexpr std::size_t HugePage = std::size_t(2) << 20;

// Room for count doubles. A table of huge pages' size is asked for in huge pages: the first pass
// after a change writes rows all over it, and a fault per 4 KB page costs more than its rows'
// logarithms.
double* allocateLogs(std::size_t count) {
    const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(double);
    const bool huge = bytes >= HugePage;
    // aligned_alloc takes a multiple of the alignment; malloc's blocks suit doubles.
    void* logs = huge ? std::aligned_alloc(HugePage, (bytes + HugePage - 1) / HugePage * HugePage)
                      : std::malloc(bytes);
    if (logs == nullptr) throw std::bad_alloc();
    // A hint (without it, 4 KB pages), for the whole huge pages only: the part of the last one
    // past the rows is never touched, so it takes no memory.
    if (huge) ::madvise(logs, bytes / HugePage * HugePage, MADV_HUGEPAGE);
    return static_cast<double*>(logs);
}

}  // namespace

void ScoreTable::FreeLogs::operator()(double* logs) const noexcept {
    std::free(logs);
}

ScoreTable::ScoreTable(const storage::FeatureSet& set, std::size_t budgetBytes)
    : _classes(set.classCount()), _firstRow(set.laneCount()) {
    std::size_t features = 0;
    for (std::size_t k = 0; k < set.laneCount(); ++k) {
        _firstRow[k] = features;
        features += set.lane(k).featureCount();
    }
    const std::size_t rowBytes = _classes * sizeof(double) + sizeof(std::atomic<std::uint8_t>);
    _rows = std::min(features, budgetBytes / rowBytes);
    // The logs are left unwritten, so untouched rows take no memory; the states start Empty.
    _logs.reset(allocateLogs(_rows * _classes));
    _states = std::make_unique<std::atomic<std::uint8_t>[]>(_rows);
}

std::size_t ScoreTable::rowOf(std::size_t laneIndex, std::uint32_t ordinal) const {
    if (ordinal >= _rows) return _rows;  // also NoFeature, without overflowing
    const std::size_t row = _firstRow[laneIndex] + ordinal;
    return row < _rows ? row : _rows;
}

const double* ScoreTable::find(std::size_t laneIndex, std::uint32_t ordinal) const {
    const std::size_t row = rowOf(laneIndex, ordinal);
    if (row == _rows || _states[row].load(std::memory_order_acquire) != Published) return nullptr;
    return &_logs[row * _classes];
}

double* ScoreTable::claim(std::size_t laneIndex, std::uint32_t ordinal) {
    const std::size_t row = rowOf(laneIndex, ordinal);
    if (row == _rows) return nullptr;
    std::uint8_t expected = Empty;
    if (!_states[row].compare_exchange_strong(expected, Claimed, std::memory_order_relaxed)) {
        return nullptr;
    }
    return &_logs[row * _classes];
}

void ScoreTable::publish(std::size_t laneIndex, std::uint32_t ordinal) {
    _states[rowOf(laneIndex, ordinal)].store(Published, std::memory_order_release);
}

void ScoreTable::prefetch(std::size_t laneIndex, std::uint32_t ordinal) const {
    const std::size_t row = rowOf(laneIndex, ordinal);
    if (row == _rows) return;
    __builtin_prefetch(&_states[row]);
    __builtin_prefetch(&_logs[row * _classes]);
}

std::size_t ScoreTable::bytes() const {
    return _rows * (_classes * sizeof(double) + sizeof(std::atomic<std::uint8_t>));
}

}  // namespace norvale::classifier
