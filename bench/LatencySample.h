// Call latencies gathered by several caller threads (each keeps its own
// sample, merged once the run is over) and the figures made from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class LatencySample {
public:
    void reserve(size_t calls) { m_nanoseconds.reserve(calls); }
    void add(int64_t nanoseconds) { m_nanoseconds.push_back(nanoseconds); }
    void merge(const LatencySample& other);

    size_t count() const { return m_nanoseconds.size(); }
    // Nearest-rank percentile in microseconds, `fraction` in (0, 1]; 0 for
    // an empty sample. Sorts the sample.
    double percentileMicroseconds(double fraction);

private:
    std::vector<int64_t> m_nanoseconds;
};
