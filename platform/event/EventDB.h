// The event database: one entry per event class, read once from the JSON
// file named by $ORV_EVENTDB (default /etc/opt/KTRXORV/ORV/config/eventdb.json).
// After construction it is only read, so concurrent lookups need no lock.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/event/EventDBEntry.h"

class DXAEvent;

namespace orv::event {

// An entry left out of the database, and why: the class as written in the
// file and a short reason naming the key at fault.
struct SkippedEventDBEntry {
    std::string eventClass;
    std::string reason;
};

}

// Each entry is checked on its own: a faulty entry is left out (and listed
// by skippedEntries()) while every other entry loads, so one typo cannot
// silence every class.
class EventDB {
public:
    // Throws std::runtime_error when the file cannot be read, is not JSON or
    // is not an object of classes; the text names the path and the reason
    // (for a syntax error with its line and column).
    EventDB();
    explicit EventDB(const std::string& path);
    // The file EventDB() reads.
    static std::string configuredPath();
    ~EventDB();

    EventDB(const EventDB&) = delete;
    EventDB& operator=(const EventDB&) = delete;

    // 0 and the entry (owned by the database) for the event's class;
    // nonzero when the class cannot be read or is not in the database.
    int lookupEventDBEntry(DXAEvent& event, EventDBEntry*& entry);

    // The entries left out, in the order of their classes.
    const std::vector<orv::event::SkippedEventDBEntry>& skippedEntries() const { return m_skipped; }

private:
    std::map<std::string, std::unique_ptr<EventDBEntry>> m_entries;
    std::vector<orv::event::SkippedEventDBEntry> m_skipped;
};
