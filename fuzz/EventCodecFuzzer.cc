// The packed-event decoder over arbitrary bytes. Whatever it accepts must
// repack to exactly the same bytes, read back through every accessor of the
// event record, pass through the typed JSON form back to the same bytes,
// and, when it holds only the event's own members, pass through the event
// JSON form unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventCodec.h"
#include "fuzz/FuzzScratch.h"

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

void checkTypedJsonRoundTrip(const std::vector<Member>& members, const std::vector<char>& bytes)
{
    // Through text, as orv-event unpack | orv-event pack takes it.
    const std::string text = orv::event::toTypedJson(members, orv::event::packedByteOrder(bytes.data(), bytes.size()),
        orv::event::packedListFlags(bytes.data(), bytes.size()))
                                 .dump();
    const nlohmann::json json = nlohmann::json::parse(text);
    if (orv::event::fromJson(json) != members)
        fuzzFailure("typed JSON round trip changed the members");
    if (orv::event::packJson(json) != bytes)
        fuzzFailure("typed JSON round trip changed the packed bytes");
}

void checkEventJsonRoundTrip(const std::vector<Member>& members)
{
    nlohmann::json json;
    std::vector<Member> back;
    try {
        json = orv::event::toJson(members);
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

    const std::vector<char> original(bytes, bytes + size);
    if (orv::event::pack(members, orv::event::packedByteOrder(bytes, size), orv::event::packedListFlags(bytes, size))
        != original)
        fuzzFailure("repacking changed the bytes");
    checkTypedJsonRoundTrip(members, original);
    checkEventJsonRoundTrip(members);
    return 0;
}
