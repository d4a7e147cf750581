#include "cmd/kav/HoldDowns.h"

#include <algorithm>
#include <list>

#include "platform/event/DXAEvent.h"

namespace {

// Parts are joined with a byte no field holds as text.
constexpr char separator = '\x1f';

}

std::string HoldDowns::keyOf(const DXAEvent& event)
{
    std::string eventClass, code, csn, domains;
    std::list<std::string> indictments;
    if (event.getEventClass(eventClass) != 0 || event.getEventCode(code) != 0)
        return {};
    // An event without a serial number, domains or indictments has them empty.
    event.getEventSourcePlatformCSN(csn);
    event.getDomainsAffected(domains);
    event.getEventIndictment(indictments);
    indictments.sort();
    indictments.unique();
    std::string key = eventClass + separator + code + separator + csn + separator + domains;
    for (const std::string& indictment : indictments)
        key += separator + indictment;
    return key;
}

HoldDowns::Verdict HoldDowns::check(const std::string& key, std::chrono::seconds holdDown, Clock::time_point now)
{
    orv::base::MutexLock lock(m_mutex);
    if (now >= m_nextEnd)
        forgetEnded(now);
    Verdict verdict;
    const auto [found, added] = m_faults.try_emplace(key);
    Fault& fault = found->second;
    if (!added && now < fault.until) {
        ++fault.held;
        verdict.held = true;
    } else {
        if (!added) {
            verdict.heldBefore = fault.held;
            verdict.heldSince = fault.reported;
        }
        fault = { now, now + holdDown, holdDown, 0 };
        m_nextEnd = std::min(m_nextEnd, fault.forgetAt());
    }
    verdict.reported = fault.reported;
    verdict.until = fault.until;
    return verdict;
}

std::optional<HoldDowns::Running> HoldDowns::running(const std::string& key, Clock::time_point now) const
{
    orv::base::MutexLock lock(m_mutex);
    const auto found = m_faults.find(key);
    if (found == m_faults.end() || now >= found->second.until)
        return std::nullopt;
    return Running { found->second.reported, found->second.until, found->second.held };
}

void HoldDowns::restore(const std::string& key, std::chrono::seconds holdDown, const Running& running)
{
    orv::base::MutexLock lock(m_mutex);
    Fault& fault = m_faults[key];
    fault = { running.reported, running.until, holdDown, running.held };
    m_nextEnd = std::min(m_nextEnd, fault.forgetAt());
}

size_t HoldDowns::size() const
{
    orv::base::MutexLock lock(m_mutex);
    return m_faults.size();
}

void HoldDowns::forgetEnded(Clock::time_point now)
{
    m_nextEnd = Clock::time_point::max();
    for (auto it = m_faults.begin(); it != m_faults.end();) {
        if (now >= it->second.forgetAt()) {
            it = m_faults.erase(it);
        } else {
            m_nextEnd = std::min(m_nextEnd, it->second.forgetAt());
            ++it;
        }
    }
}
