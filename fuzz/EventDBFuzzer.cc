// The event database loader over arbitrary file contents. A file it refuses
// must be refused with its own error; a file it accepts must answer for
// every class the file names and did not skip as faulty, with entries whose
// accessors all work, and must not answer for a skipped class or one the
// file does not name.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/event/DXAEvent.h"
#include "platform/event/EventDB.h"
#include "fuzz/FuzzScratch.h"
#include "fuzz/SampleEvent.h"

using orv::event::SkippedEventDBEntry;

namespace {

void readEveryField(EventDBEntry& entry, DXAEvent& event)
{
    entry.reportViaMsg();
    entry.reportViaOrvEvent();
    entry.reportViaRemote();
    entry.reportViaEmail();
    unsigned number = 0;
    entry.getZEQMessageNumber(number);
    unsigned count = 0;
    entry.getNumberOfZEQArgs(count);
    std::string text;
    for (unsigned i = 0; i <= count; ++i)
        entry.getZEQArg(i, event, text);
    orv::EventSeverity severity {};
    entry.getEventSeverity(severity);
    orv::EventPriority priority {};
    entry.getEventPriority(priority);
    orv::EventReportingType type {};
    entry.getEventReportingType(type);
    entry.getEventReportingSubtype(text);
}

void checkLookup(EventDB& db, const std::string& eventClass, bool present)
{
    std::unique_ptr<DXAEvent> event = SampleEvent::make(eventClass);
    if (!event)
        return;
    EventDBEntry* entry = nullptr;
    const int rc = db.lookupEventDBEntry(*event, entry);
    if (!present) {
        if (rc != ENOENT)
            fuzzFailure("a class the file does not name was found: " + eventClass);
        return;
    }
    if (rc != 0 || !entry)
        fuzzFailure("a class the file names was not found: " + eventClass);
    readEveryField(*entry, *event);
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzScratch::instance().write("eventdb.json", data, size);
    std::unique_ptr<EventDB> db;
    try {
        db = std::make_unique<EventDB>(path);
    } catch (const std::runtime_error&) {
        return 0;
    }
    // Accepted, so it is one JSON object of class entries.
    const nlohmann::json root = nlohmann::json::parse(data, data + size);
    std::set<std::string> skipped;
    for (const SkippedEventDBEntry& entry : db->skippedEntries())
        skipped.insert(entry.eventClass);
    std::string absent = "absent";
    for (const auto& item : root.items()) {
        checkLookup(*db, item.key(), !skipped.contains(item.key()));
        absent += item.key();
    }
    if (!root.contains(absent))
        checkLookup(*db, absent, false);
    return 0;
}
