#include "tests/e2e/SandboxEvents.h"

#include "platform/event/EventCodec.h"

namespace sandbox {

json sampleEntry(
    const std::vector<std::string>& channels, int severity, int reportingType, const std::string& reportingSubtype)
{
    return { { "channels", channels }, { "severity", severity }, { "priority", 1 }, { "reportingType", reportingType },
        { "reportingSubtype", reportingSubtype }, { "messageNumber", 7001 }, { "args", { "{class}", "{code}" } } };
}

json sampleEvent(
    const std::string& eventClass, const std::string& code, long long timestamp, const std::string& domainsAffected)
{
    return { { "class", eventClass }, { "code", code }, { "type", "FAULT" }, { "timestamp", timestamp },
        { "domainsAffected", domainsAffected }, { "platformCSN", "0123" }, { "platformModel", "M15" },
        { "diagEngName", "de" }, { "diagEngVersion", "1" }, { "classes", { eventClass } },
        { "indictment", { "CPU0" } } };
}

std::vector<char> packEvent(const json& event)
{
    return orv::event::pack(orv::event::fromJson(event));
}

}
