// A fixed event carrying every member the daemon reads, for the targets
// that fuzz something else (a template, a database) against one event.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventCodec.h"

class SampleEvent {
public:
    // The members in packing order, the class set to `eventClass`.
    static std::vector<orv::event::Member> members(const std::string& eventClass = "fault.cpu.ecache");

    // The event record of those members; nullptr when they cannot be packed
    // (a class holding a NUL byte).
    static std::unique_ptr<DXAEvent> make(const std::string& eventClass = "fault.cpu.ecache");
};
