// A time limit on one exchange with a peer. Waits ask it how long they may
// still block, so a peer that stops answering costs at most the limit,
// however the exchange is split into steps.
#pragma once

#include <chrono>
#include <optional>

namespace orv::io {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // No limit at all.
    Deadline() = default;
    explicit Deadline(std::chrono::milliseconds budget);

    // The seconds in the environment variable `name` (a positive number,
    // fractions allowed), or `fallback` when it is unset or not such a number.
    static std::chrono::milliseconds fromEnvironment(const char* name, std::chrono::milliseconds fallback);

    bool limited() const { return m_end.has_value(); }
    bool passed() const;
    // For poll(): -1 without a limit, 0 once passed, else the milliseconds
    // left (rounded up, so a wait never ends just before the limit).
    int pollTimeout() const;

private:
    std::optional<Clock::time_point> m_end;
};

}
