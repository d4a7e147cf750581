#include "cmd/kav/journal/JournalSettings.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace orv::journal {

namespace {

// A whole number in [low, high] from the environment, else the fallback
// (and a problem when the variable was set).
int64_t wholeNumber(const char* name, int64_t fallback, int64_t low, int64_t high, std::vector<std::string>& problems)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    const std::string_view view(text);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error != std::errc() || end != view.data() + view.size() || value < low || value > high) {
        problems.push_back(std::string(name) + "=" + text + ": not a whole number from " + std::to_string(low) + " to "
            + std::to_string(high));
        return fallback;
    }
    return value;
}

// Seconds (fractions allowed) in [0, highSeconds] from the environment, as
// milliseconds; else the fallback.
int64_t seconds(const char* name, int64_t fallbackMillis, double highSeconds, std::vector<std::string>& problems)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallbackMillis;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*end != '\0' || !(value >= 0.0 && value <= highSeconds)) {
        problems.push_back(std::string(name) + "=" + text + ": not a number of seconds from 0 to "
            + std::to_string(static_cast<long>(highSeconds)));
        return fallbackMillis;
    }
    return static_cast<int64_t>(value * 1000.0 + 0.5);
}

}

int64_t JournalSettings::retryDelay(int tries) const
{
    int64_t delay = std::max<int64_t>(retryFirstMillis, 1);
    for (int i = 1; i < tries && delay < retryMaxIntervalMillis; ++i)
        delay *= 2;
    return std::min(delay, std::max<int64_t>(retryMaxIntervalMillis, 1));
}

JournalSettings JournalSettings::fromEnvironment()
{
    JournalSettings settings;
    if (const char* path = std::getenv("ORV_JOURNAL"))
        settings.path = path;
    settings.keepDays = static_cast<int>(wholeNumber("ORV_JOURNAL_KEEP_DAYS", 30, 1, 36500, settings.problems));
    settings.maxBytes = wholeNumber("ORV_JOURNAL_MAX_MB", 256, 1, 1 << 20, settings.problems) << 20;
    if (const char* sync = std::getenv("ORV_JOURNAL_SYNC"); sync && *sync) {
        const std::string_view mode(sync);
        if (mode == "full")
            settings.sync = SyncMode::Full;
        else if (mode != "normal")
            settings.problems.push_back(std::string("ORV_JOURNAL_SYNC=") + sync + ": not normal or full");
    }
    settings.retryFirstMillis = seconds("ORV_RETRY_FIRST", 30'000, 86400, settings.problems);
    settings.retryMaxIntervalMillis = seconds("ORV_RETRY_MAX_INTERVAL", 900'000, 86400, settings.problems);
    settings.retryMaxAgeMillis = seconds("ORV_RETRY_MAX_AGE", 86'400'000, 365.0 * 86400, settings.problems);
    settings.deliveryThreads = static_cast<int>(wholeNumber("ORV_DELIVERY_THREADS", 4, 1, 64, settings.problems));
    settings.mailPerMinute = static_cast<int>(wholeNumber("ORV_MAIL_RATE", 0, 0, 60'000, settings.problems));
    if (!settings.path.empty() && settings.path.front() != '/')
        settings.problems.push_back("ORV_JOURNAL=" + settings.path + ": not an absolute path");
    return settings;
}

}
