#include "platform/framework/RequestReader.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/io/Status.h"
#include "platform/log/LogStatement.h"

namespace orv::framework {

namespace {

// While the connection cap holds accepting back, look again this often.
constexpr std::chrono::milliseconds CAP_RECHECK { 100 };

// How long the doors rest after an accept failed (descriptors or kernel
// memory ran out), and how often at most a line tells of such failures.
constexpr std::chrono::milliseconds ACCEPT_REST { 100 };
constexpr std::chrono::seconds ACCEPT_REPORT_INTERVAL { 1 };

// A level-triggered listening socket would wake every waiting thread for
// each connection, all but one to find nothing; one-shot wakes one, and it
// hands the door on (watchDoor) as soon as it has taken its connection.
constexpr uint32_t DOOR_EVENTS = EPOLLIN | EPOLLONESHOT;

// An event's data: the kind of source in the top byte, its index or the
// parked request's id below.
constexpr int KIND_SHIFT = 56;

int openSpare()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

uint64_t tag(uint64_t kind, uint64_t index)
{
    return (kind << KIND_SHIFT) | index;
}

int checked(int fd, const char* what)
{
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), what);
    return fd;
}

}

RequestReader::RequestReader(
    std::vector<Door> doors, std::chrono::milliseconds timeout, std::atomic<unsigned>& openCount)
    : m_doors(std::move(doors))
    , m_timeout(timeout)
    , m_openCount(openCount)
    , m_epoll(checked(::epoll_create1(EPOLL_CLOEXEC), "epoll_create1"))
    , m_wake(checked(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "eventfd"))
    , m_timer(checked(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC), "timerfd_create"))
    , m_spare(openSpare())
{
    // The wake-up note is never read: level-triggered, it stays readable
    // and so reaches every thread that waits, one after another.
    epoll_event wake { EPOLLIN, { .u64 = tag(uint64_t(Kind::Wake), 0) } };
    epoll_event timer { EPOLLIN, { .u64 = tag(uint64_t(Kind::Timer), 0) } };
    checked(::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, m_wake.get(), &wake), "epoll_ctl");
    checked(::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, m_timer.get(), &timer), "epoll_ctl");
    for (size_t i = 0; i < m_doors.size(); ++i) {
        epoll_event door { DOOR_EVENTS, { .u64 = tag(uint64_t(Kind::Door), i) } };
        checked(::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, m_doors[i].listenFd, &door), "epoll_ctl");
    }
}

RequestReader::~RequestReader()
{
    stop();
}

void RequestReader::stop()
{
    m_stop = true;
    // New callers are refused at once instead of waiting in the backlog
    // for a server that is going; the descriptors stay valid for the
    // threads that may still be about to use them.
    for (const Door& door : m_doors)
        ::shutdown(door.listenFd, SHUT_RD);
    uint64_t one = 1;
    (void)::write(m_wake.get(), &one, sizeof one);
}

bool RequestReader::next(PendingRequest& request)
{
    while (!m_stop.load()) {
        epoll_event event {};
        int ready = ::epoll_wait(m_epoll.get(), &event, 1, -1);
        if (ready < 0 && errno != EINTR)
            logStatement(4, LogDest::trace(), "Door reader: poll failed: %s", std::strerror(errno));
        if (ready <= 0 || m_stop.load())
            continue;
        auto kind = static_cast<Kind>(event.data.u64 >> KIND_SHIFT);
        uint64_t index = event.data.u64 & ((uint64_t(1) << KIND_SHIFT) - 1);
        if (kind == Kind::Timer)
            timerFired();
        else if (kind == Kind::Door && accept(index, request))
            return true;
        else if (kind == Kind::Parked && resume(index, request))
            return true;
    }
    return false;
}

bool RequestReader::accept(size_t index, PendingRequest& request)
{
    const Door& door = m_doors[index];
    if (!admitting()) {
        orv::base::MutexLock lock(m_mutex);
        pauseListening(Clock::now() + CAP_RECHECK);
        return false;
    }
    int fd = ::accept4(door.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    // Taken before watching the door again, which may set errno.
    const io::Status accepted = fd < 0 ? io::Status::posixError("accept", errno) : io::Status();
    if (fd < 0) {
        // Another door thread took the connection, or the caller gave up.
        const int error = accepted.code();
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED)
            watchDoor(index);
        else
            acceptFailed(index, accepted);
        return false;
    }
    watchDoor(index);
    DoorConnection connection(fd, m_openCount);
    if (!connection.peerAllowed()) {
        logStatement(4, LogDest::trace(), "Door %s: call from uid %ld refused.", door.name, connection.peerUid());
        connection.refuse(EACCES);
        return false;
    }
    request.reset(std::move(connection), *door.service);
    return settle(request);
}

// Out of descriptors (or kernel memory): the caller still waiting would
// wake a thread again at once, for ever. It is taken and closed, and the
// door (left unwatched) rests a moment; the failures are told of at most
// once a second.
void RequestReader::acceptFailed(size_t index, const io::Status& failed)
{
    unsigned failures = 0;
    {
        orv::base::MutexLock lock(m_mutex);
        dropWaitingCaller(m_doors[index].listenFd);
        const auto now = Clock::now();
        ++m_acceptFailures;
        if (now >= m_acceptReported + ACCEPT_REPORT_INTERVAL) {
            failures = std::exchange(m_acceptFailures, 0);
            m_acceptReported = now;
        }
        m_restUntil = now + ACCEPT_REST;
        pauseListening(m_restUntil);
    }
    if (failures != 0)
        logStatement(4, LogDest::trace(), "Door %s: accept failed: %s (%u times since the last such line)",
            m_doors[index].name, failed.reason(), failures);
}

void RequestReader::dropWaitingCaller(int listenFd)
{
    m_spare.reset();
    io::FdGuard taken(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
    taken.reset();
    m_spare.reset(openSpare());
}

// Runs with the request out of the parked set, so no other thread touches it.
bool RequestReader::settle(PendingRequest& request)
{
    switch (request.readAvailable()) {
    case PendingRequest::State::Complete:
        return true;
    case PendingRequest::State::Reading: {
        // The clock is read only for a request that has to wait.
        request.setDeadline(Clock::now() + m_timeout);
        park(std::make_unique<PendingRequest>(std::move(request)), 0);
        return false;
    }
    case PendingRequest::State::Dropped:
        request.refuse(request.dropOutcome());
        return false;
    }
    return false;
}

bool RequestReader::resume(uint64_t id, PendingRequest& request)
{
    std::unique_ptr<PendingRequest> parked;
    {
        orv::base::MutexLock lock(m_mutex);
        auto found = m_parked.find(id);
        // Dropped at its deadline meanwhile.
        if (found == m_parked.end())
            return false;
        parked = std::move(found->second);
        m_parked.erase(found);
    }
    switch (parked->readAvailable()) {
    case PendingRequest::State::Complete:
        request = std::move(*parked);
        return true;
    case PendingRequest::State::Reading:
        park(std::move(parked), id);
        return false;
    case PendingRequest::State::Dropped:
        parked->refuse(parked->dropOutcome());
        return false;
    }
    return false;
}

// Id 0: a request parked for the first time, which gets its id here.
// Watching the connection (again) and entering it in the set happen under
// the lock, so a thread woken by its next bytes always finds it there; one
// event wakes one thread, and the connection is watched again only once
// that thread is done with it.
void RequestReader::park(std::unique_ptr<PendingRequest> parked, uint64_t id)
{
    orv::base::MutexLock lock(m_mutex);
    int op = id == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (id == 0)
        id = ++m_lastId;
    epoll_event event { EPOLLIN | EPOLLONESHOT, { .u64 = tag(uint64_t(Kind::Parked), id) } };
    if (::epoll_ctl(m_epoll.get(), op, parked->fd(), &event) != 0) {
        // Cannot be watched: the caller is told nothing and closed.
        parked->refuse(0);
        return;
    }
    armTimer(parked->deadline());
    m_parked.emplace(id, std::move(parked));
}

void RequestReader::timerFired()
{
    uint64_t expirations = 0;
    (void)::read(m_timer.get(), &expirations, sizeof expirations);
    auto now = Clock::now();
    std::vector<std::unique_ptr<PendingRequest>> expired;
    {
        orv::base::MutexLock lock(m_mutex);
        auto nextAt = Clock::time_point::max();
        for (auto it = m_parked.begin(); it != m_parked.end();) {
            if (it->second->deadline() <= now) {
                expired.push_back(std::move(it->second));
                it = m_parked.erase(it);
                continue;
            }
            nextAt = std::min(nextAt, it->second->deadline());
            ++it;
        }
        if (m_listenPaused && now < m_restUntil)
            nextAt = std::min(nextAt, m_restUntil);
        else if (m_listenPaused && admitting())
            resumeListening();
        else if (m_listenPaused)
            nextAt = std::min(nextAt, now + CAP_RECHECK);
        m_timerAt = Clock::time_point::max();
        if (nextAt != Clock::time_point::max())
            armTimer(nextAt);
    }
    for (auto& pending : expired) {
        logStatement(4, LogDest::trace(), "Door request dropped: not complete within %lld ms.",
            static_cast<long long>(m_timeout.count()));
        pending->refuse(ETIMEDOUT);
    }
}

// The timer is only ever brought forward here; timerFired() sets it to the
// next deadline.
void RequestReader::armTimer(Clock::time_point at)
{
    if (at >= m_timerAt)
        return;
    m_timerAt = at;
    auto since = at.time_since_epoch();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    itimerspec spec {};
    spec.it_value.tv_sec = seconds.count();
    spec.it_value.tv_nsec = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count();
    // A zero time would disarm the timer; a deadline already past fires at once.
    if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0)
        spec.it_value.tv_nsec = 1;
    ::timerfd_settime(m_timer.get(), TFD_TIMER_ABSTIME, &spec, nullptr);
}

void RequestReader::watchDoor(size_t index)
{
    epoll_event door { DOOR_EVENTS, { .u64 = tag(uint64_t(Kind::Door), index) } };
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_MOD, m_doors[index].listenFd, &door);
}

// The door whose event brought the thread here
// stays unwatched (one-shot); the others are left as they are and stop at
// their next connection. The timer looks again at `lookAgain`.
void RequestReader::pauseListening(Clock::time_point lookAgain)
{
    m_listenPaused = true;
    armTimer(lookAgain);
}

void RequestReader::resumeListening()
{
    m_listenPaused = false;
    for (size_t i = 0; i < m_doors.size(); ++i)
        watchDoor(i);
}

}
