// Store and forward: an accepted event is committed to the journal and its
// deliveries are made afterwards by delivery threads, each failed one tried
// again later until it goes through or its time runs out.
//
// Deliveries wait in lanes, one per peer: the front-end, the remote proxy,
// and one per email recipient line (the message logs are written before the
// event is committed, and never wait). A lane hands out its
// deliveries in the order the events came, one at a time, so while a peer
// has a delivery pending the later ones queue behind it. Mail lanes have
// threads of their own: a mail script that hangs ties up mail only. Of the
// lanes with a delivery due, the one with the oldest goes first.
//
// Under a ceiling on mail the due mails wait, pending and untried, until
// the ceiling lets the next one go, oldest first.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cmd/kav/channel/ChannelResult.h"
#include "platform/base/Mutex.h"
#include "cmd/kav/journal/Journal.h"
#include "cmd/kav/journal/MailCeiling.h"

class DXAEvent;

namespace orv::journal {

class Forwarder {
public:
    // Makes one try of one delivery of the event: runs its channel. For the
    // first report of a fault after its hold-down, `heldBefore` says how
    // many copies were held before it.
    using Deliver = std::function<ChannelResult(const Delivery& delivery, DXAEvent& event, int64_t heldBefore)>;

    // What happened to deliveries since the start, for the counters.
    struct Counts {
        std::atomic<uint64_t> retried { 0 };
        std::atomic<uint64_t> deliveredAfterRetry { 0 };
        std::atomic<uint64_t> givenUp { 0 };
        std::atomic<uint64_t> dropped { 0 };
        // Mails that had to wait for the ceiling, each once.
        std::atomic<uint64_t> mailDeferred { 0 };
    };

    Forwarder(Journal& journal, Deliver deliver);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // Queues the deliveries the journal holds as pending and starts the
    // delivery threads.
    void start();
    // Lets the running tries end (at their deadlines or at the shutdown
    // signal) and joins the threads; what is still pending stays in the
    // journal for the next start.
    void stop();

    // Commits the event and queues its deliveries; false when the journal
    // cannot take it, and the caller reports it as without a journal. An
    // event with nothing left to deliver is committed in the background.
    bool accept(NewEvent event);

    // The remote channel's number for this delivery, the same at every try;
    // none without a journal to keep it.
    std::optional<int64_t> sequenceFor(int64_t deliveryId);

    const Counts& counts() const { return m_counts; }

    // An operator's word on the pending deliveries of an event (of every
    // event: none): try them now, or give them up. How many.
    int retryNow(std::optional<int64_t> eventId);
    int drop(int64_t eventId);

private:
    struct Event {
        int64_t id;
        Millis received;
        std::string eventClass;
        std::string code;
        std::vector<char> packed;
        int64_t heldBefore;
    };
    struct Item {
        std::shared_ptr<const Event> event;
        Delivery delivery;
        // Counted as waiting for the ceiling.
        bool deferred = false;
    };
    struct Lane {
        std::deque<Item> items; // in event order; the first is the next to try
        bool busy = false;
    };
    using LaneKey = std::pair<Channel, std::string>;

    void queue(const std::shared_ptr<const Event>& event, const std::vector<Delivery>& deliveries);
    void work(bool mail) EXCLUDES(m_mutex);
    orv::base::CondVar& wakeOf(bool mail) { return mail ? m_wakeMail : m_wakeOther; }
    Lane* nextDue(bool mail, Millis now, Millis& wakeAt) REQUIRES(m_mutex);
    void deferDueMail(Millis now) REQUIRES(m_mutex);
    ChannelResult tryOnce(const Item& item);
    void settle(Item& item, const ChannelResult& result);

    Journal& m_journal;
    const Deliver m_deliver;
    Counts m_counts;

    orv::base::Mutex m_mutex;
    // Threads of each kind wait on their own.
    orv::base::CondVar m_wakeOther;
    orv::base::CondVar m_wakeMail;
    std::map<LaneKey, Lane> m_lanes GUARDED_BY(m_mutex);
    bool m_stopping GUARDED_BY(m_mutex) = false;
    Millis m_maintainAt GUARDED_BY(m_mutex) = 0;
    // Deliveries dropped while being tried: not queued again.
    std::set<int64_t> m_dropped GUARDED_BY(m_mutex);
    MailCeiling m_mailCeiling GUARDED_BY(m_mutex);
    std::vector<std::thread> m_threads;
};

}
