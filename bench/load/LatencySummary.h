#pragma once

// Latencies of one kind of request, gathered by one client thread each and merged afterwards;
// percentiles by the nearest-rank rule (the smallest recorded value that at least q% of the
// values do not exceed), so every reported figure is a latency that was actually seen. Not
// synchronised: one writer at a time.

#include <cstddef>
#include <vector>

namespace bench::load {

class LatencySummary {
public:
    void add(double micros) { _micros.push_back(micros); }
    void merge(const LatencySummary& other);

    std::size_t count() const { return _micros.size(); }
    // q in (0, 100]; 0 when nothing was recorded.
    double percentile(double q) const;
    double max() const;

private:
    std::vector<double> _micros;
};

}  // namespace bench::load
