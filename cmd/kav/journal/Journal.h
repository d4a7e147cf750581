// The daemon's journal: the store behind a lock, and what happens when the
// file cannot be used. A broken journal never stops reporting: an event it
// cannot take is reported as without a journal, one platform line says when
// that starts and one when it ends, and the file is tried again each
// minute. A damaged file is set aside and a new one started. Finished
// events are removed after the days kept, and the oldest of them first when
// the file is at its bound; above the bound new events go unjournaled.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "cmd/kav/journal/JournalSettings.h"
#include "cmd/kav/journal/JournalStore.h"

namespace orv::journal {

class Journal {
public:
    enum class Health { Off, Ok, Degraded };
    using Clock = std::function<Millis()>;

    // How long a broken journal is left alone, and how often finished
    // events are cleared out.
    static constexpr Millis retryMillis = 60'000;
    static constexpr Millis maintenanceMillis = 60'000;

    explicit Journal(JournalSettings settings, Clock clock = nowMillis);

    Health health() const;
    const JournalSettings& settings() const { return m_settings; }

    // The new event's id, or none: report it as without a journal.
    // `deliveryIds` as JournalStore::record gives them.
    std::optional<int64_t> record(const NewEvent& event, std::vector<int64_t>* deliveryIds = nullptr);

    // Runs `action` on the store; none when the journal cannot be used now
    // or the action failed (which is reported as the journal's failure).
    template <typename Action> auto use(Action action) -> std::optional<std::invoke_result_t<Action, JournalStore&>>
    {
        std::lock_guard lock(m_mutex);
        if (!ready())
            return std::nullopt;
        try {
            return action(*m_store);
        } catch (const JournalError& error) {
            broke(error);
        }
        return std::nullopt;
    }

    // Retries a broken file when its minute has passed, and clears out
    // finished events when due; the delivery threads call it now and then.
    void maintain();

    // The name a damaged file is kept under.
    static std::string corruptName(const std::string& path, Millis at);

private:
    bool ready();
    void open();
    void broke(const JournalError& error);
    void setAside();
    void removeOld(Millis now);
    void checkBound(Millis now);

    const JournalSettings m_settings;
    const Clock m_clock;
    mutable std::mutex m_mutex;
    // Guarded by m_mutex.
    std::optional<JournalStore> m_store;
    Health m_health = Health::Off;
    Millis m_retryAt = 0;
    Millis m_maintainAt = 0;
    bool m_atBound = false;
    Millis m_boundCheckAt = 0;
};

}
