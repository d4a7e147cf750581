// The ORV event channel: one event frame per event to the front-end daemon.
#pragma once

class DXAEvent;
class EventDBEntry;

class OrvEventReportingService {
public:
    OrvEventReportingService() = default;
    virtual ~OrvEventReportingService() = default;

    void reportOrvEvent(DXAEvent& event, const EventDBEntry* entry);
};
