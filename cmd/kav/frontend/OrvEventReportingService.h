// The ORV event channel: one event frame per event to the front-end daemon.
// Its one piece of state is the skip window: a front-end that stopped
// answering is not waited on again until its deadline has passed once more.
#pragma once

#include <string>

#include "cmd/kav/channel/PeerSkipWindow.h"

class DXAEvent;
class EventDBEntry;
class OrvEventFrame;
class OrvSendEvent;

class OrvEventReportingService {
public:
    OrvEventReportingService();
    virtual ~OrvEventReportingService() = default;

    void reportOrvEvent(DXAEvent& event, const EventDBEntry* entry);

    // Fills the frame the event goes out in; on a failure logs it and
    // returns -1. Sends nothing, so a dry run can show the frame.
    static int buildFrame(
        DXAEvent& event, const EventDBEntry* entry, const std::string& eventClass, OrvEventFrame& frame);

private:
    void send(const std::string& eventClass, OrvSendEvent& sender, OrvEventFrame& frame);

    PeerSkipWindow m_skip;
};
