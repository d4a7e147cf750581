#include "tools/orv-event/TimeoutOption.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

using orv::io::Deadline;

namespace orvevent {

namespace {

std::chrono::milliseconds callTimeout { std::chrono::seconds(30) };

}

void takeTimeoutOption(std::vector<std::string>& args)
{
    if (args.empty() || args[0] != "--timeout")
        return;
    if (args.size() < 2)
        throw std::invalid_argument("--timeout needs a number of seconds");
    const std::string& text = args[1];
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0.0 || seconds > 86400.0)
        throw std::invalid_argument("bad --timeout: " + text);
    callTimeout = std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000.0)));
    args.erase(args.begin(), args.begin() + 2);
}

Deadline callDeadline()
{
    return Deadline(callTimeout);
}

}
