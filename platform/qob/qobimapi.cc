// The library's C entry points. No exception may cross them: anything
// thrown below becomes a return code.
#include "platform/qob/qobimapi.h"

#include <new>

#include "platform/qob/QobMessage.h"
#include "platform/qob/QobRegistry.h"
#include "platform/qob/QobSession.h"

namespace {

constexpr int supportedProtocol = 2;

template <typename Body> int guarded(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return QOB_NO_MEMORY;
    } catch (...) {
        return QOB_INTERNAL_ERROR;
    }
}

int checkCallbacks(const QOBCallback* callbacks, int count, orv::qob::Registration& registration)
{
    if (count < 0 || (count > 0 && !callbacks))
        return QOB_INVALID_CALLBACK;
    for (int i = 0; i < count; ++i) {
        if (!callbacks[i].command || !*callbacks[i].command || !callbacks[i].function)
            return QOB_INVALID_CALLBACK;
        registration.callbacks.emplace_back(callbacks[i].command, callbacks[i].function);
    }
    return QOB_SUCCESS;
}

int registerApplication(const char* appName, const char* appVersion, QOBHandle* handle, QOBCallback* callbacks,
    int callbackCount, int options, int reserved, int protocolVersion)
{
    if (!appName || !*appName || !appVersion || !handle || options != 0 || reserved != 0
        || protocolVersion != supportedProtocol)
        return QOB_INVALID_PARAMETER;
    orv::qob::Registration registration { appName, appVersion, {} };
    if (int rc = checkCallbacks(callbacks, callbackCount, registration); rc != QOB_SUCCESS)
        return rc;
    std::shared_ptr<orv::qob::QobSession> session;
    int rc = orv::qob::QobSession::open(registration, session);
    if (!session)
        return rc;
    // The replaced registrations are stopped here, outside the registry's
    // lock: stopping waits for their command threads.
    auto replaced = orv::qob::QobRegistry::instance().removeApp(appName);
    *handle = orv::qob::QobRegistry::instance().add(std::move(session));
    return rc;
}

// Looks the registration up, then builds the request and sends it.
template <typename Build> int sendRequest(QOBHandle handle, Build build)
{
    auto session = orv::qob::QobRegistry::instance().find(handle);
    if (!session)
        return QOB_IM_NOT_REGISTERED;
    nlohmann::ordered_json request;
    if (int rc = build(request); rc != QOB_SUCCESS)
        return rc;
    int rc = session->request(request);
    // A broken registration is of no further use: it goes now, with its
    // connections and thread, rather than when the caller gets round to
    // closing it (which it may never do).
    if (session->broken())
        orv::qob::QobRegistry::instance().remove(handle);
    return rc;
}

}

extern "C" {

QOBReturnValues qob_register(const char* appName, const char* appVersion, QOBHandle* handle, QOBCallback* callbacks,
    int callbackCount, int options, int reserved, int protocolVersion)
{
    return static_cast<QOBReturnValues>(guarded([&] {
        return registerApplication(
            appName, appVersion, handle, callbacks, callbackCount, options, reserved, protocolVersion);
    }));
}

QOBReturnValues qob_senddata(QOBHandle handle, const char* target, QOB_Msg_Data* msg)
{
    return static_cast<QOBReturnValues>(guarded([&] {
        return sendRequest(handle, [&](auto& request) { return orv::qob::senddataRequest(target, msg, request); });
    }));
}

int qob_sendstatus(QOBHandle handle, QOBComponentStatus* status, int count)
{
    return guarded([&] {
        return sendRequest(handle, [&](auto& request) { return orv::qob::sendstatusRequest(status, count, request); });
    });
}

QOBReturnValues qob_close(QOBHandle handle)
{
    return static_cast<QOBReturnValues>(guarded([&] {
        auto session = orv::qob::QobRegistry::instance().remove(handle);
        if (!session)
            return static_cast<int>(QOB_IM_NOT_REGISTERED);
        int rc = session->request({ { "op", "close" } });
        session->stop();
        return rc;
    }));
}
}
