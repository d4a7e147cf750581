#include "cmd/kav/journal/Forwarder.h"

#include <algorithm>
#include <chrono>

#include "platform/event/DXAEvent.h"
#include "platform/io/Heartbeat.h"
#include "platform/log/LogStatement.h"

namespace orv::journal {

namespace {

// The longest a delivery thread sleeps without looking at the journal.
constexpr Millis idleMillis = 60'000;

bool isMail(Channel channel)
{
    return channel == Channel::Email;
}

}

Forwarder::Forwarder(Journal& journal, Deliver deliver)
    : m_journal(journal)
    , m_deliver(std::move(deliver))
    , m_mailCeiling(journal.settings().mailPerMinute)
{
}

Forwarder::~Forwarder()
{
    stop();
}

void Forwarder::start()
{
    // Deliveries left pending by the last run: each event's bytes once.
    const auto pending = m_journal.use([](JournalStore& store) {
        std::vector<std::pair<std::shared_ptr<const Event>, std::vector<Delivery>>> found;
        for (const Delivery& delivery : store.pending()) {
            if (found.empty() || found.back().first->id != delivery.eventId) {
                const auto record = store.event(delivery.eventId);
                if (!record)
                    continue;
                found.emplace_back(
                    std::make_shared<const Event>(Event { record->id, record->received, record->eventClass,
                        record->code, store.packed(record->id), record->heldBefore }),
                    std::vector<Delivery>());
            }
            found.back().second.push_back(delivery);
        }
        return found;
    });
    if (pending) {
        for (const auto& [event, deliveries] : *pending)
            queue(event, deliveries);
        if (!pending->empty())
            logStatement(2, LogDest::trace(), "Journal: %d events with pending deliveries resumed.",
                static_cast<int>(pending->size()));
    }
    const int threads = m_journal.settings().deliveryThreads;
    for (int i = 0; i < threads; ++i) {
        m_threads.emplace_back([this] { work(false); });
        m_threads.emplace_back([this] { work(true); });
    }
}

void Forwarder::stop()
{
    {
        orv::base::MutexLock lock(m_mutex);
        m_stopping = true;
    }
    m_wakeOther.notifyAll();
    m_wakeMail.notifyAll();
    for (std::thread& thread : m_threads)
        thread.join();
    m_threads.clear();
}

bool Forwarder::accept(NewEvent event)
{
    if (!event.waits()) {
        m_journal.recordLater(std::move(event));
        return true;
    }
    std::vector<int64_t> ids;
    const auto id = m_journal.record(event, &ids);
    if (!id)
        return false;
    std::vector<Delivery> deliveries;
    for (size_t i = 0; i < ids.size(); ++i) {
        Delivery delivery;
        delivery.id = ids[i];
        delivery.eventId = *id;
        delivery.channel = event.deliveries[i].channel;
        delivery.recipient = event.deliveries[i].recipient;
        delivery.state = event.deliveries[i].state;
        delivery.nextTry = event.received;
        deliveries.push_back(std::move(delivery));
    }
    auto kept = std::make_shared<const Event>(Event { *id, event.received, std::move(event.eventClass),
        std::move(event.code), std::move(event.packed), event.heldBefore });
    queue(kept, deliveries);
    return true;
}

std::optional<int64_t> Forwarder::sequenceFor(int64_t deliveryId)
{
    return m_journal.use([&](JournalStore& store) { return store.deliverySequence(deliveryId, "remote"); });
}

void Forwarder::queue(const std::shared_ptr<const Event>& event, const std::vector<Delivery>& deliveries)
{
    const bool any = std::any_of(deliveries.begin(), deliveries.end(),
        [](const Delivery& delivery) { return delivery.state == State::Pending; });
    if (!any)
        return;
    {
        orv::base::MutexLock lock(m_mutex);
        for (const Delivery& delivery : deliveries) {
            if (delivery.state != State::Pending)
                continue;
            auto& items = m_lanes[{ delivery.channel, delivery.recipient.value_or("") }].items;
            // Two door threads may queue in the other order than they
            // committed; the lane keeps the journal's, behind its first
            // delivery, which may be being tried.
            auto at = items.end();
            while (at - items.begin() > 1 && std::prev(at)->event->id > event->id)
                --at;
            items.insert(at, Item { event, delivery });
            // One thread per delivery: lanes of one event may run side by
            // side.
            wakeOf(isMail(delivery.channel)).notifyOne();
        }
    }
}

// Under the lock: of the lanes of the thread's kind whose next delivery is
// due, the one whose delivery is oldest; else none, with `wakeAt` the
// earliest due time.
Forwarder::Lane* Forwarder::nextDue(bool mail, Millis now, Millis& wakeAt)
{
    Lane* oldest = nullptr;
    for (auto& [key, lane] : m_lanes) {
        if (isMail(key.first) != mail || lane.busy || lane.items.empty())
            continue;
        const Delivery& next = lane.items.front().delivery;
        if (next.nextTry.value_or(0) > now)
            wakeAt = std::min(wakeAt, *next.nextTry);
        else if (!oldest || next.id < oldest->items.front().delivery.id)
            oldest = &lane;
    }
    return oldest;
}

// Under the lock, with the ceiling reached: the mails due now wait for it,
// each counted the first time.
void Forwarder::deferDueMail(Millis now)
{
    for (auto& [key, lane] : m_lanes) {
        if (!isMail(key.first) || lane.busy || lane.items.empty())
            continue;
        Item& next = lane.items.front();
        if (next.delivery.nextTry.value_or(0) <= now && !next.deferred) {
            next.deferred = true;
            m_counts.mailDeferred.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

// For the watchdog the thread works while it tries a delivery or tends the
// journal, and is idle while it waits for a delivery to come due.
void Forwarder::work(bool mail)
{
    orv::io::Heartbeat heartbeat(mail ? "mail delivery thread" : "delivery thread");
    m_mutex.lock();
    while (!m_stopping) {
        // Once a second at most, and not under the lock, which door threads
        // take to queue.
        if (!mail && nowMillis() >= m_maintainAt) {
            m_maintainAt = nowMillis() + 1000;
            m_mutex.unlock();
            {
                orv::io::Heartbeat::Work working;
                m_journal.maintain();
            }
            m_mutex.lock();
            continue;
        }
        const Millis now = nowMillis();
        Millis wakeAt = now + idleMillis;
        Lane* lane = nextDue(mail, now, wakeAt);
        if (lane && mail && !m_mailCeiling.take(now)) {
            deferDueMail(now);
            wakeAt = m_mailCeiling.nextSlot();
            lane = nullptr;
        }
        if (!lane) {
            wakeOf(mail).waitFor(m_mutex, std::chrono::milliseconds(wakeAt - now));
            continue;
        }
        lane->busy = true;
        Item item = lane->items.front();
        m_mutex.unlock();
        {
            orv::io::Heartbeat::Work working;
            settle(item, tryOnce(item));
        }
        m_mutex.lock();
        // No one is woken: this thread goes on with the lane's next
        // delivery when it is due, and other lanes have their own threads.
        lane->busy = false;
        const bool dropped = m_dropped.erase(item.delivery.id) > 0;
        if (item.delivery.state == State::Pending && !dropped)
            lane->items.front().delivery = item.delivery;
        else
            lane->items.pop_front();
    }
    m_mutex.unlock();
}

ChannelResult Forwarder::tryOnce(const Item& item)
{
    try {
        DXAEvent event(std::vector<char>(item.event->packed));
        return m_deliver(item.delivery, event, item.event->heldBefore);
    } catch (const std::exception& error) {
        return ChannelResult::refused(error.what());
    }
}

int Forwarder::retryNow(std::optional<int64_t> eventId)
{
    // The file first: a delivery made at once must not be made due again.
    const Millis now = nowMillis();
    m_journal.use([&](JournalStore& store) { return eventId ? store.retry(*eventId, now) : store.retryAll(now); });
    int count = 0;
    {
        orv::base::MutexLock lock(m_mutex);
        for (auto& [key, lane] : m_lanes)
            for (Item& item : lane.items)
                if (!eventId || item.event->id == *eventId) {
                    item.delivery.nextTry = now;
                    ++count;
                }
    }
    m_wakeOther.notifyAll();
    m_wakeMail.notifyAll();
    return count;
}

int Forwarder::drop(int64_t eventId)
{
    std::vector<Item> dropped;
    {
        orv::base::MutexLock lock(m_mutex);
        for (auto& [key, lane] : m_lanes) {
            auto& items = lane.items;
            for (auto at = items.begin(); at != items.end();) {
                if (at->event->id != eventId) {
                    ++at;
                    continue;
                }
                dropped.push_back(*at);
                // The one being tried is let go when its try ends.
                if (lane.busy && at == items.begin()) {
                    m_dropped.insert(at->delivery.id);
                    ++at;
                } else {
                    at = items.erase(at);
                }
            }
        }
    }
    m_journal.use([&](JournalStore& store) { return store.drop(eventId, nowMillis()); });
    for (const Item& item : dropped) {
        m_counts.dropped.fetch_add(1, std::memory_order_relaxed);
        logStatement(4, LogDest::platform(), KAV_DELIVERY_DROPPED, std::to_string(eventId), item.event->eventClass,
            item.event->code, channelName(item.delivery.channel));
    }
    return static_cast<int>(dropped.size());
}

// Records how the try ended and what comes next: done, another try later,
// or given up.
void Forwarder::settle(Item& item, const ChannelResult& result)
{
    Delivery& delivery = item.delivery;
    const Event& event = *item.event;
    const char* channel = channelName(delivery.channel);
    const JournalSettings& settings = m_journal.settings();
    const Millis now = nowMillis();
    if (!result.failed()) {
        delivery.state = State::Delivered;
        m_journal.deliveredLater(delivery.id, now);
        if (delivery.tries > 0) {
            m_counts.deliveredAfterRetry.fetch_add(1, std::memory_order_relaxed);
            logStatement(3, LogDest::platform(), KAV_DELIVERED_AFTER_RETRY, event.eventClass, event.code, channel,
                delivery.tries + 1);
        }
        return;
    }
    ++delivery.tries;
    delivery.lastError = result.why();
    const bool retry
        = result.retry() && settings.retryMaxAgeMillis > 0 && now - event.received < settings.retryMaxAgeMillis;
    if (retry) {
        delivery.nextTry = now + settings.retryDelay(delivery.tries);
        m_counts.retried.fetch_add(1, std::memory_order_relaxed);
        m_journal.use([&](JournalStore& store) {
            store.failed(delivery.id, result.why(), *delivery.nextTry);
            return true;
        });
        return;
    }
    delivery.state = State::GivenUp;
    m_counts.givenUp.fetch_add(1, std::memory_order_relaxed);
    m_journal.use([&](JournalStore& store) {
        store.givenUp(delivery.id, result.why(), now);
        return true;
    });
    logStatement(4, LogDest::platform(), KAV_DELIVERY_GIVEN_UP, event.eventClass, event.code, channel, delivery.tries,
        result.why());
}

}
