// The process's live registrations by handle. Handles are never reused, so
// a stale handle finds nothing instead of another application's session.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "QobSession.h"
#include "qobimapi.h"

namespace qob {

class QobRegistry {
public:
    // The one registry; it is never destroyed, so command threads of
    // registrations that were never closed can outlive static destruction.
    static QobRegistry& instance();

    QOBHandle add(std::shared_ptr<QobSession> session);
    std::shared_ptr<QobSession> find(QOBHandle handle);
    std::shared_ptr<QobSession> remove(QOBHandle handle);

private:
    QobRegistry() = default;

    std::mutex m_mutex;
    QOBHandle m_lastHandle = 0;
    std::map<QOBHandle, std::shared_ptr<QobSession>> m_sessions;
};

}
