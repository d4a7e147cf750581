// Whole numbers that operators set in the environment (log level, time-outs).
#pragma once

#include <optional>

namespace orv::text {

// The value of environment variable `name` as a decimal integer within
// [low, high]; nothing when it is unset, empty, not wholly a number or out of
// that range, so that the caller keeps its default.
std::optional<long> integerFromEnvironment(const char* name, long low, long high);

}
