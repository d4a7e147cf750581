#include "platform/io/Deadline.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace orv::io {

namespace {

// A day: beyond it a "deadline" is a typo, not a wish.
constexpr double longestSeconds = 86400.0;

}

Deadline::Deadline(std::chrono::milliseconds budget)
    : m_end(Clock::now() + budget)
{
}

std::chrono::milliseconds Deadline::fromEnvironment(const char* name, std::chrono::milliseconds fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(seconds) || seconds <= 0.0 || seconds > longestSeconds)
        return fallback;
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000.0)));
}

bool Deadline::passed() const
{
    return m_end && Clock::now() >= *m_end;
}

int Deadline::pollTimeout() const
{
    if (!m_end)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*m_end - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(left);
}

}
