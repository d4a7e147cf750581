#include "platform/io/Heartbeat.h"

#include <algorithm>
#include <vector>

#include "platform/base/Mutex.h"

namespace orv::io {

namespace {

thread_local Heartbeat* current = nullptr;

struct Watched {
    orv::base::Mutex mutex;
    std::vector<Heartbeat*> threads GUARDED_BY(mutex);
};

Watched& watched()
{
    static Watched list;
    return list;
}

}

Heartbeat::Heartbeat(const char* kind)
    : m_kind(kind)
{
    Watched& list = watched();
    orv::base::MutexLock lock(list.mutex);
    list.threads.push_back(this);
    current = this;
}

Heartbeat::~Heartbeat()
{
    Watched& list = watched();
    orv::base::MutexLock lock(list.mutex);
    std::erase(list.threads, this);
    current = nullptr;
}

Heartbeat::Work::Work()
{
    mark(true);
}

Heartbeat::Work::~Work()
{
    mark(false);
}

void Heartbeat::beat()
{
    if (current != nullptr && current->m_working)
        mark(true);
}

void Heartbeat::mark(bool working)
{
    Heartbeat* self = current;
    if (self == nullptr)
        return;
    if (working)
        ++self->m_steps;
    self->m_working = working;
    self->m_shown.store((self->m_steps << 1) | (working ? 1 : 0), std::memory_order_relaxed);
}

std::optional<Heartbeat::Stall> Heartbeat::stalled(Clock::time_point now, Clock::duration limit)
{
    std::optional<Stall> longest;
    Watched& list = watched();
    orv::base::MutexLock lock(list.mutex);
    for (Heartbeat* thread : list.threads) {
        const uint64_t shown = thread->m_shown.load(std::memory_order_relaxed);
        if (shown != thread->m_seen || thread->m_seenSince == Clock::time_point {}) {
            thread->m_seen = shown;
            thread->m_seenSince = now;
        }
        const Clock::duration length = now - thread->m_seenSince;
        if ((shown & 1) != 0 && length > limit && (!longest || length > longest->length))
            longest = Stall { thread->m_kind, length };
    }
    return longest;
}

}
