#include "platform/framework/DoorServer.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/framework/DoorEndpoint.h"
#include "platform/framework/DoorService.h"
#include "platform/framework/DoorThreadPool.h"
#include "platform/framework/Invocation.h"
#include "platform/log/LogStatement.h"
#include "platform/framework/RequestReader.h"

using orv::framework::DoorEndpoint;
using orv::framework::DoorThreadPool;
using orv::framework::Invocation;
using orv::framework::RequestReader;

struct DoorServer::Door {
    std::unique_ptr<DoorEndpoint> endpoint;
    DoorService* service;
};

DoorServer::DoorServer() = default;

DoorServer::~DoorServer()
{
    shutDown();
}

int DoorServer::registerObj(DoorService* service, int value)
{
    if (service == nullptr)
        return EINVAL;
    orv::base::MutexLock lock(m_mutex);
    if (m_shutDown)
        return EBUSY;
    if (m_services.count(value) != 0)
        return EEXIST;
    for (const auto& [number, registered] : m_services)
        if (registered.get() == service)
            return EEXIST;
    m_services.emplace(value, std::unique_ptr<DoorService>(service));
    return 0;
}

int DoorServer::doorCreate(const char* doorName, int value)
{
    if (doorName == nullptr)
        return EINVAL;
    orv::base::MutexLock lock(m_mutex);
    if (m_serving || m_shutDown)
        return EBUSY;
    auto service = m_services.find(value);
    if (service == m_services.end())
        return ENOENT;
    auto endpoint = std::make_unique<DoorEndpoint>();
    if (int rc = endpoint->open(doorName)) {
        logStatement(
            4, LogDest::trace(), "Door %s: cannot create %s: %s", doorName, endpoint->path(), std::strerror(rc));
        return rc;
    }
    logStatement(2, LogDest::trace(), "Door %s: created at %s.", doorName, endpoint->path());
    m_doors.push_back({ std::move(endpoint), service->second.get() });
    return 0;
}

void DoorServer::doorStart()
{
}

void DoorServer::doorInvocation()
{
}

void DoorServer::setRequestTimeout(std::chrono::milliseconds timeout)
{
    orv::base::MutexLock lock(m_mutex);
    m_requestTimeout = timeout;
}

void DoorServer::setDoorThreadCount(unsigned count)
{
    orv::base::MutexLock lock(m_mutex);
    m_doorThreads = count;
}

void DoorServer::startServing()
{
    orv::base::MutexLock lock(m_mutex);
    if (m_serving || m_shutDown)
        return;
    std::vector<RequestReader::Door> doors;
    for (const Door& door : m_doors)
        doors.push_back({ door.endpoint->fd(), door.endpoint->name(), door.service });
    m_reader = std::make_unique<RequestReader>(doors, m_requestTimeout, m_openConnections);
    m_pool = std::make_unique<DoorThreadPool>(
        m_doorThreads, *m_reader, [this] { doorStart(); }, [this](Invocation& call) { runCall(call); });
    m_serving = true;
    logStatement(
        2, LogDest::trace(), "Door server: serving %zu door(s) on %u door threads.", m_doors.size(), m_doorThreads);
}

void DoorServer::shutDown()
{
    std::unique_ptr<RequestReader> reader;
    std::unique_ptr<DoorThreadPool> pool;
    std::map<int, std::unique_ptr<DoorService>> services;
    std::vector<Door> doors;
    bool wasServing;
    {
        orv::base::MutexLock lock(m_mutex);
        if (m_shutDown)
            return;
        m_shutDown = true;
        wasServing = m_serving;
        reader = std::move(m_reader);
        pool = std::move(m_pool);
        services = std::exchange(m_services, {});
        doors = std::exchange(m_doors, {});
    }
    // A call still running may use the server; the lock stays free for it.
    if (reader)
        reader->stop();
    if (pool)
        pool->finish();
    pool.reset();
    reader.reset();
    for (Door& door : doors)
        door.endpoint->stopListening();
    while (!services.empty())
        services.erase(services.begin());
    for (Door& door : doors)
        door.endpoint->remove();
    doors.clear();
    if (wasServing)
        logStatement(2, LogDest::trace(), "Door server: shut down.");
}

void DoorServer::runCall(Invocation& call)
{
    try {
        doorInvocation();
    } catch (...) {
        logStatement(4, LogDest::trace(), "Door call (method %u): the invocation hook failed.", call.method());
    }
    call.run();
}
