// The daemon's one door service: receives every event, looks its class up in
// the event database and hands it to each channel the entry asks for, in the
// order message, ORV event, remote, email.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/framework/DoorService.h"
#include "cmd/kav/HoldDowns.h"
#include "cmd/kav/KAVChannelFactory.h"
#include "cmd/kav/KAVStats.h"
#include "cmd/kav/KAVVerdict.h"
#include "cmd/kav/Silences.h"
#include "cmd/kav/journal/JournalTypes.h"

class DXAEvent;
class EventDBEntry;

namespace orv::journal {
class ChannelResult;
struct Delivery;
class Forwarder;
class Journal;
class JournalStore;
}

class KAVManager : public DoorService {
public:
    KAVManager();
    explicit KAVManager(const KAVChannelFactory& factory);
    ~KAVManager() override;

    KAVManager(const KAVManager&) = delete;
    KAVManager& operator=(const KAVManager&) = delete;

    void methodDispatch() override;

    void reportEvent(DXAEvent& event);
    void testEmailReporting(DXAEvent& event);
    int receiveEvent(DXAEvent& event, EventDBEntry*& entry, std::string& eventClass);

    // The counters since start; the stats door shares them.
    std::shared_ptr<KAVStats> stats() const { return m_stats; }

private:
    KAVVerdict dispatchEvent(unsigned methodId);
    KAVVerdict report(DXAEvent& event);
    KAVVerdict testEmail(DXAEvent& event);
    KAVVerdict intake(DXAEvent& event, EventDBEntry*& entry, std::string& eventClass);
    // With a journal: commits the event, with how its logs were written, for
    // the delivery threads to make the rest; false when the journal cannot
    // take it.
    struct HoldDownVerdict {
        // Held back from the channels after the message channel.
        bool held = false;
        // For the first report after a hold-down: how many it held.
        int64_t heldBefore = 0;
        // What the journal keeps of the hold-down; none without one.
        std::optional<orv::journal::HoldDown> note;
    };
    // A held event's channels after the message channel are recorded as
    // held back instead of waiting for delivery; those in `silenced`
    // (Silences::bit) are recorded as silenced.
    bool forward(DXAEvent& event, EventDBEntry* entry, const std::string& eventClass,
        const orv::journal::ChannelResult& message, const HoldDownVerdict& hold, unsigned silenced = 0);
    // Of the channels after the message channel that the entry asks for
    // (`asked`, Silences::bit), those an active silence holds the event
    // back from; counts the event and names the silences in the trace if
    // there are any.
    unsigned silenced(DXAEvent& event, unsigned asked, const std::string& eventClass);
    // Whether the entry's hold-down holds the event back from the channels
    // after the message channel; counts it if so, and says how many were
    // held for the first event after a hold-down that held some.
    HoldDownVerdict holdDown(DXAEvent& event, EventDBEntry& entry, const std::string& eventClass);
    // The hold-downs the journal kept from the last run.
    void restoreHoldDowns();
    // One try of one journaled delivery, on a delivery thread.
    orv::journal::ChannelResult deliverOnce(
        const orv::journal::Delivery& delivery, DXAEvent& event, int64_t heldBefore);
    void operatorCall(unsigned methodId);
    void holdDownCall();
    // Add, list and expire of silences; they need the journal.
    void silenceCall(unsigned methodId);
    // The active silences of the journal become those the reports see.
    void loadSilences(orv::journal::JournalStore& store);
    // The "journal" object of the counters.
    nlohmann::json journalState() const;

    // The suite's interface: the names of the database and channel members.
    std::unique_ptr<EventDB> eventDB;
    std::unique_ptr<MessageReportingService> messageReportingService;
    std::unique_ptr<OrvEventReportingService> orvEventReportingService;
    std::unique_ptr<RemoteReportingService> remoteReportingService;
    std::unique_ptr<EmailReportingService> emailReportingService;
    // The suite's interface: one switch per channel, off when it could not be made.
    bool messageReportingEnabled = true;
    bool orvEventReportingEnabled = true;
    bool remoteReportingEnabled = true;
    bool emailReportingEnabled = true;
    std::shared_ptr<KAVStats> m_stats = std::make_shared<KAVStats>();
    HoldDowns m_holdDowns;
    Silences m_silences;
    // Both set when ORV_JOURNAL names a journal.
    std::unique_ptr<orv::journal::Journal> m_journal;
    std::unique_ptr<orv::journal::Forwarder> m_forwarder;
};
