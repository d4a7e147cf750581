// The process's live registrations by handle. Handles are never reused, so
// a stale handle finds nothing instead of another application's session.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Mutex.h"
#include "platform/qob/QobSession.h"
#include "platform/qob/qobimapi.h"

namespace orv::qob {

class QobRegistry {
public:
    // The one registry; it is never destroyed, so command threads of
    // registrations that were never closed can outlive static destruction.
    static QobRegistry& instance();

    QOBHandle add(std::shared_ptr<QobSession> session);
    std::shared_ptr<QobSession> find(QOBHandle handle);
    std::shared_ptr<QobSession> remove(QOBHandle handle);
    // Takes out every registration of `app`: a new registration of the same
    // application replaces them, so that an abandoned one neither holds its
    // connections and thread nor answers the proxy's commands a second time.
    std::vector<std::shared_ptr<QobSession>> removeApp(const std::string& app);

private:
    QobRegistry() = default;

    orv::base::Mutex m_mutex;
    QOBHandle m_lastHandle GUARDED_BY(m_mutex) = 0;
    std::map<QOBHandle, std::shared_ptr<QobSession>> m_sessions GUARDED_BY(m_mutex);
};

}
