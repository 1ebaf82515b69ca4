#include "load/LatencySummary.h"

#include <algorithm>
#include <cmath>

namespace bench::load {

void LatencySummary::merge(const LatencySummary& other) {
    _micros.insert(_micros.end(), other._micros.begin(), other._micros.end());
}

double LatencySummary::percentile(double q) const {
    if (_micros.empty()) return 0.0;
    std::vector<double> sorted = _micros;
    // Rank 1 is the smallest value; the rank of q% is ceil(q/100 * n), at least 1.
    const double rank = std::ceil(q / 100.0 * static_cast<double>(sorted.size()));
    const std::size_t index =
        std::clamp<std::size_t>(static_cast<std::size_t>(rank), 1, sorted.size()) - 1;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(index),
                     sorted.end());
    return sorted[index];
}

double LatencySummary::max() const {
    return _micros.empty() ? 0.0 : *std::max_element(_micros.begin(), _micros.end());
}

}  // namespace bench::load
