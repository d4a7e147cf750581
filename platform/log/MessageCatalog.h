// The message catalogue: identifier number, name and printf-style text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "platform/log/MessageIds.h"

namespace orv::log {

struct CatalogEntry {
    int id;
    const char* name;
    const char* text; // untranslated; looked up with dgettext at run time
};

namespace detail {

#define ENTRY(id, text)                                                                                                \
    {                                                                                                                  \
        id, #id, text                                                                                                  \
    }

// Kept sorted by identifier.
inline constexpr CatalogEntry messageCatalog[] = {
    ENTRY(APPLICATION_CREATE_FAILED, "The application object could not be created (error %d)."),
    ENTRY(WORKAREA_CREATE_FAILED, "The work area object could not be created (error %d)."),
    ENTRY(MEM_ALLOC_FAILED, "Out of memory while allocating %s."),
    ENTRY(CREATE_DOOR_FAILED, "The door %s could not be created (result %d)."),
    ENTRY(UNRECOGNIZED_METHOD_ID, "Door call with unrecognized method id %u ignored."),
    ENTRY(LOG_FOLDER_MADE_AGAIN, "The log folder had been removed; it was made again for %s."),
    ENTRY(KAV_INIT_EVENTDB_FAILED, "The event database could not be loaded; event reporting is disabled."),
    ENTRY(KAV_INIT_CHANNEL_FAILED, "The %s reporting channel could not be created; %s reporting is disabled."),
    ENTRY(KAV_OBJ_INSTANT_FAILED, "A %s object could not be created from the door call."),
    ENTRY(KAV_TEST_MSG, "Test email requested for event class %s."),
    ENTRY(KAV_INVALID_EMAIL_ATTEMPT, "Test email refused: event class %s does not ask for email reporting."),
    ENTRY(KAV_UNKNOWN_EVENT_CLASS, "Event class %s is not in the event database."),
    ENTRY(KAV_FAILED_REPORTING_ATTEMPT, "Event class %s could not be reported through %s reporting."),
    ENTRY(KAV_EVENTDB_BAD_ENTRY, "The event database entry for event class %s is skipped: %s."),
    ENTRY(KAV_LOST_VARN, "Connection to the remote services proxy lost while reporting event class %s."),
    ENTRY(KAV_VARN_SEND_ERR, "Sending to the remote services proxy failed: %s."),
    ENTRY(KAV_EMAIL_DXAEVENT_GET_FAILED, "Email reporting could not read %s from the event (result %d)."),
    ENTRY(KAV_EMAIL_DBEVENT_FAILED, "Email reporting could not read %s from the event database (result %d)."),
    ENTRY(KAV_OPEN_ECF_FAILED, "The email control file %s could not be opened."),
    ENTRY(KAV_EMAIL_FILE_NOTFOUND, "Email %s file %s not found."),
    ENTRY(KAV_EXECSENDMAIL_FAILED, "Mail submission failed: %s %d."),
    ENTRY(KAV_BAD_ECF_FILE, "The email control file %s is invalid; its remaining lines are ignored."),
    ENTRY(KAV_BAD_EMAILRECIPIENTS, "Rejected email recipient %s."),
    ENTRY(KAV_LINE_TOO_LONG, "A line of %d or more characters in %s ends the reading of the file."),
    ENTRY(KAV_ECF_BAD_LINE, "Bad line \"%s\" in email control file %s ignored."),
    ENTRY(KAV_ECF_TOO_MANY_FIELDS, "An email control file line has more fields than expected."),
    ENTRY(KAV_MIME_OPEN_ATTACHMENT, "The email attachment %s could not be opened."),
    ENTRY(KAV_BASE64_ENCODE_ERROR, "Base64 encoding of the email attachment failed (result %d)."),
    ENTRY(KAV_BASE64_WRITE_ERROR, "Writing %d bytes of base64 text failed (stream state %d)."),
    ENTRY(KAV_EMAIL_FILE_OPEN_FAILED, "Email %s file %s could not be opened: %s."),
    ENTRY(
        KAV_EMAIL_SCRATCH_FAILED, "Email for event class %s to %s not sent: the %s file %s could not be written: %s."),
    ENTRY(KAV_JOURNAL_UNAVAILABLE, "The event journal %s cannot be used (%s); events are reported without it."),
    ENTRY(KAV_JOURNAL_AVAILABLE, "The event journal %s is in use again."),
    ENTRY(KAV_JOURNAL_CORRUPT, "The event journal %s was damaged; it is kept as %s and a new journal is started."),
    ENTRY(KAV_JOURNAL_FULL, "The event journal %s is at its bound of %d MB; new events are reported without it."),
    ENTRY(KAV_JOURNAL_ROOM, "The event journal %s has room again; new events are journaled."),
    ENTRY(KAV_DELIVERY_GIVEN_UP, "Event class %s code %s: %s delivery given up after %d tries: %s."),
    ENTRY(KAV_DELIVERED_AFTER_RETRY, "Event class %s code %s: %s delivered after %d tries."),
    ENTRY(KAV_DELIVERY_DROPPED, "Event %s class %s code %s: %s delivery dropped by an operator."),
    ENTRY(KAV_EVENTS_HELD, "Event class %s code %s: %s repeats held back since %s by a hold-down of %s seconds."),
    ENTRY(KAV_MAIL_RATE_WITHOUT_JOURNAL,
        "ORV_MAIL_RATE=%d needs the event journal (ORV_JOURNAL) to keep the mails over the ceiling; kav does not "
        "start."),
    ENTRY(KAV_SILENCE_ADDED, "Silence %s added for %s until %s: %s"),
    ENTRY(KAV_SILENCE_EXPIRED, "Silence %s for %s ended by an operator: %s"),

    // Event messages of the sample event database; their arguments are
    // always twenty texts.
    { 5001, "CPU_ECACHE_FAULT", "Processor E-cache fault %s: %s." },
    { 5002, "MEMORY_DIMM_FAULT", "Memory fault %s (code %s) on %s, affecting domains %s." },
    { 5003, "SYSTEM_POWER_FAULT", "Power fault %s on platform %s, CSN %s." },
    { 5004, "FIRMWARE_CONFIG_DEFECT", "Firmware configuration defect %s found by %s, code %s." },
    { 5005, "PCI_RETRY_EREPORT", "PCI bus retries (code %s) in domains %s." },
    { 5006, "SUSPECT_LIST_INFO", "Diagnosis %s lists the suspects %s." },
    { 5007, "TEMPERATURE_EREPORT", "Temperature report %s at %s." },
    { 5008, "DOMAIN_STATUS_EVENT", "Domain status event %s for domains %s." },
};

#undef ENTRY

static_assert(std::is_sorted(std::begin(messageCatalog), std::end(messageCatalog),
    [](const CatalogEntry& a, const CatalogEntry& b) { return a.id < b.id; }));

}

// The position of `id` in the catalogue, or -1 when it has none. Usable at
// compile time, where log statements check their arguments against the
// text; it works on indexes, as GCC's sanitizer builds cannot compare
// pointers in a constant expression.
constexpr int catalogIndex(int id)
{
    const auto& catalog = detail::messageCatalog;
    size_t low = 0;
    size_t high = std::size(catalog);
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (catalog[middle].id < id)
            low = middle + 1;
        else
            high = middle;
    }
    return low < std::size(catalog) && catalog[low].id == id ? static_cast<int>(low) : -1;
}

// The entry of `id`, or nullptr when the catalogue has none.
inline const CatalogEntry* catalogEntry(int id)
{
    const int index = catalogIndex(id);
    return index < 0 ? nullptr : &detail::messageCatalog[index];
}

// The entry's text in the current message locale. Looked up once and then
// kept: call forgetTranslations() after binding the text domain or changing
// the locale.
const char* translatedText(const CatalogEntry& entry);
void forgetTranslations();

// Every entry, in identifier order (for tooling such as the .pot generator).
const CatalogEntry* catalogBegin();
const CatalogEntry* catalogEnd();

inline constexpr const char* TEXT_DOMAIN_NAME = "KTRX_VOTRA_CMD";

}
