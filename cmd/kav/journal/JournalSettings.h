// The journal's settings from the environment. A value that does not parse
// keeps its default and is named in `problems`, which check-config shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv::journal {

// normal: a commit survives the process dying; full: it is on the disk
// before the door call returns.
enum class SyncMode { Normal, Full };

struct JournalSettings {
    // ORV_JOURNAL; empty: no journal.
    std::string path;
    // ORV_JOURNAL_KEEP_DAYS: how long finished events are kept.
    int keepDays = 30;
    // ORV_JOURNAL_MAX_MB: the bound on the file's used pages.
    int64_t maxBytes = int64_t(256) << 20;
    // ORV_JOURNAL_SYNC
    SyncMode sync = SyncMode::Normal;
    // ORV_RETRY_FIRST: the wait before the first retry (seconds, fractions
    // allowed), doubling at each further one up to ORV_RETRY_MAX_INTERVAL.
    int64_t retryFirstMillis = 30'000;
    int64_t retryMaxIntervalMillis = 900'000;
    // ORV_RETRY_MAX_AGE: no retry starts this long after the event came;
    // 0: a failed delivery is given up at once.
    int64_t retryMaxAgeMillis = 86'400'000;
    // ORV_DELIVERY_THREADS
    int deliveryThreads = 4;
    // ORV_MAIL_RATE: at most this many mail tries a minute over all events;
    // 0: no ceiling. Mails over it wait in the journal, so a ceiling without
    // one is refused at start.
    int mailPerMinute = 0;
    std::vector<std::string> problems;

    bool enabled() const { return !path.empty(); }
    // The wait after a delivery's `tries`-th failed try.
    int64_t retryDelay(int tries) const;

    static JournalSettings fromEnvironment();
};

}
