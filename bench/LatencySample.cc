#include "bench/LatencySample.h"

#include <algorithm>
#include <cmath>

void LatencySample::merge(const LatencySample& other)
{
    m_nanoseconds.insert(m_nanoseconds.end(), other.m_nanoseconds.begin(), other.m_nanoseconds.end());
}

double LatencySample::percentileMicroseconds(double fraction)
{
    if (m_nanoseconds.empty())
        return 0;
    std::sort(m_nanoseconds.begin(), m_nanoseconds.end());
    auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(m_nanoseconds.size())));
    size_t index = std::clamp<size_t>(rank, 1, m_nanoseconds.size()) - 1;
    return static_cast<double>(m_nanoseconds[index]) / 1000.0;
}
