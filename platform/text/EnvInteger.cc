#include "platform/text/EnvInteger.h"

#include <cstdlib>

namespace orv::text {

std::optional<long> integerFromEnvironment(const char* name, long low, long high)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    char* end = nullptr;
    // Out of long's range strtol answers LONG_MIN or LONG_MAX, which the
    // range check below refuses as well.
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < low || value > high)
        return std::nullopt;
    return value;
}

}
