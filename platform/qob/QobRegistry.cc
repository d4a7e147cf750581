#include "platform/qob/QobRegistry.h"

namespace orv::qob {

QobRegistry& QobRegistry::instance()
{
    static QobRegistry* registry = new QobRegistry;
    return *registry;
}

QOBHandle QobRegistry::add(std::shared_ptr<QobSession> session)
{
    orv::base::MutexLock lock(m_mutex);
    QOBHandle handle = ++m_lastHandle;
    m_sessions.emplace(handle, std::move(session));
    return handle;
}

std::shared_ptr<QobSession> QobRegistry::find(QOBHandle handle)
{
    orv::base::MutexLock lock(m_mutex);
    auto it = m_sessions.find(handle);
    return it == m_sessions.end() ? nullptr : it->second;
}

std::shared_ptr<QobSession> QobRegistry::remove(QOBHandle handle)
{
    orv::base::MutexLock lock(m_mutex);
    auto it = m_sessions.find(handle);
    if (it == m_sessions.end())
        return nullptr;
    auto session = std::move(it->second);
    m_sessions.erase(it);
    return session;
}

std::vector<std::shared_ptr<QobSession>> QobRegistry::removeApp(const std::string& app)
{
    std::vector<std::shared_ptr<QobSession>> removed;
    orv::base::MutexLock lock(m_mutex);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second->app() == app) {
            removed.push_back(std::move(it->second));
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

}
