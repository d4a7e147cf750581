// The ORV event channel: one event frame per event to the front-end daemon.
// Its one piece of state is the skip window: a front-end that stopped
// answering is not waited on again until its deadline has passed once more.
#pragma once

#include <string>

#include "cmd/kav/channel/ChannelResult.h"
#include "cmd/kav/channel/PeerSkipWindow.h"

class DXAEvent;
class EventDBEntry;
class OrvEventFrame;
class OrvSendEvent;

class OrvEventReportingService {
public:
    OrvEventReportingService();
    virtual ~OrvEventReportingService() = default;

    // Retryable when the front-end refused, timed out or is skipped after a
    // time-out; refused when the event cannot make a frame.
    orv::journal::ChannelResult reportOrvEvent(DXAEvent& event, const EventDBEntry* entry);

    // Fills the frame the event goes out in; on a failure logs it and
    // returns -1. Sends nothing, so a dry run can show the frame.
    static int buildFrame(
        DXAEvent& event, const EventDBEntry* entry, const std::string& eventClass, OrvEventFrame& frame);

private:
    orv::journal::ChannelResult send(const std::string& eventClass, OrvSendEvent& sender, OrvEventFrame& frame);

    PeerSkipWindow m_skip;
};
