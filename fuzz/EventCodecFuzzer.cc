// The packed-event decoder over arbitrary bytes. Whatever it accepts must
// survive a repacking unchanged, read back through every accessor of the
// event record, and, when it holds only the event's own members, pass
// through the JSON form of the event unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <stdexcept>
#include <string>
#include <vector>

#include "DXAEvent.h"
#include "EventCodec.h"
#include "FuzzScratch.h"

namespace {

using orv::event::Member;

void readEveryAccessor(const uint8_t* data, size_t size)
{
    std::vector<char> copy(data, data + size);
    DXAEvent event(copy.data(), static_cast<unsigned>(copy.size()));
    // The event keeps its own copy: the caller's buffer may go first.
    std::fill(copy.begin(), copy.end(), '\0');
    std::string text;
    long number = 0;
    std::list<std::string> items;
    event.getEventClass(text);
    event.getEventCode(text);
    event.getEventType(text);
    event.getEventTimestamp(number);
    event.getEventTimestamp(text);
    event.getDiagEngName(text);
    event.getDiagEngVersion(text);
    event.getDomainsAffected(text);
    event.getEventSourcePlatformCSN(text);
    event.getEventSourcePlatformModel(text);
    event.getEventClasses(items);
    event.getEventIndictment(items);
    char* payload = nullptr;
    unsigned length = 0;
    if (event.getPackedEventPayload(&payload, length) != 0 || length != size
        || (size > 0 && std::memcmp(payload, data, size) != 0))
        fuzzFailure("the event does not hand back the bytes it was built from");
}

void checkJsonRoundTrip(const std::vector<Member>& members)
{
    const nlohmann::json json = orv::event::toJson(members);
    std::vector<Member> back;
    try {
        back = orv::event::fromJson(json);
    } catch (const std::invalid_argument&) {
        return; // a member that is not one of the event's own, or of another type
    }
    // fromJson orders the members by the packing order of the event's keys.
    if (back.size() != members.size())
        fuzzFailure("JSON round trip changed the member count");
    for (const Member& member : back) {
        if (std::find(members.begin(), members.end(), member) == members.end())
            fuzzFailure("JSON round trip changed member \"" + member.name + "\"");
    }
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzScratch::instance();
    const char* bytes = reinterpret_cast<const char*>(data);
    std::vector<Member> members;
    try {
        members = orv::event::unpack(bytes, size);
    } catch (const std::runtime_error&) {
        // Refused input must be refused the same way by the event record.
        try {
            std::vector<char> copy(bytes, bytes + size);
            DXAEvent event(copy.data(), static_cast<unsigned>(copy.size()));
        } catch (const std::runtime_error&) {
            return 0;
        }
        fuzzFailure("the event record accepts bytes the decoder refuses");
    }
    readEveryAccessor(data, size);

    // Only the host byte-order byte and the padding after texts may differ
    // in a repacking; everything else is fixed by the members.
    const std::vector<char> repacked = orv::event::pack(members);
    if (repacked.size() != size)
        fuzzFailure("repacking changed the size");
    if (orv::event::unpack(repacked.data(), repacked.size()) != members)
        fuzzFailure("repacking changed the members");
    checkJsonRoundTrip(members);
    return 0;
}
