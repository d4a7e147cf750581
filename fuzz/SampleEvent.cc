#include "fuzz/SampleEvent.h"

#include <stdexcept>

namespace key = orv::event::key;

std::vector<orv::event::Member> SampleEvent::members(const std::string& eventClass)
{
    return {
        { key::eventClass, eventClass },
        { key::code, std::string("X12") },
        { key::type, std::string("FAULT") },
        { key::timestamp, int64_t { 1700000000 } },
        { key::diagEngName, std::string("diagA") },
        { key::diagEngVersion, std::string("2.0") },
        { key::domainsAffected, std::string("AC") },
        { key::platformCSN, std::string("0123") },
        { key::platformModel, std::string("M15") },
        { key::classes, std::vector<std::string> { eventClass, "fault.io.x" } },
        { key::indictment, std::vector<std::string> { "CPU0", "CPU1", "" } },
    };
}

std::unique_ptr<DXAEvent> SampleEvent::make(const std::string& eventClass)
{
    std::vector<char> bytes;
    try {
        bytes = orv::event::pack(members(eventClass));
    } catch (const std::invalid_argument&) {
        return nullptr;
    }
    return std::make_unique<DXAEvent>(bytes.data(), static_cast<unsigned>(bytes.size()));
}
