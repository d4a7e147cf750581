// The event database: one entry per event class, read once from the JSON
// file named by $ORV_EVENTDB (default /etc/opt/KTRXORV/ORV/config/eventdb.json).
// After construction it is only read, so concurrent lookups need no lock.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "EventDBEntry.h"

class DXAEvent;

class EventDB {
public:
    // Throws std::runtime_error when the file is missing or invalid.
    EventDB();
    explicit EventDB(const std::string& path);
    ~EventDB();

    EventDB(const EventDB&) = delete;
    EventDB& operator=(const EventDB&) = delete;

    // 0 and the entry (owned by the database) for the event's class;
    // nonzero when the class cannot be read or is not in the database.
    int lookupEventDBEntry(DXAEvent& event, EventDBEntry*& entry);

private:
    std::map<std::string, std::unique_ptr<EventDBEntry>> m_entries;
};
