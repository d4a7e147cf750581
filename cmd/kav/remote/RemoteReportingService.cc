#include "cmd/kav/remote/RemoteReportingService.h"

#include <dlfcn.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "cmd/kav/channel/ChannelFailure.h"
#include "cmd/kav/channel/ChannelResult.h"
#include "platform/io/Deadline.h"
#include "platform/log/LogStatement.h"
#include "cmd/kav/remote/PosixMutexGuard.h"
#include "platform/io/ShutdownSignal.h"
#include "cmd/kav/remote/VarnCallbacks.h"

using orv::journal::ChannelResult;

namespace {

constexpr const char* varnLibrary = "libqobimapi.so.1";
constexpr const char* varnAppName = "orv-kav";
constexpr const char* varnTarget = "QOB_IM_TARGET";
constexpr const char* channelWord = "remote";
constexpr const char* payloadFormat = "VKOEvent/libnvpair";

void failedAttempt(const std::string& eventClass)
{
    logStatement(4, LogDest::platform(), KAV_FAILED_REPORTING_ATTEMPT, eventClass, channelWord);
}

// The usual failure pair: what failed on the trace log, then that the
// report was abandoned on the platform log.
ChannelResult abandon(const std::string& eventClass, LogFormat<> traceLine, const char* why)
{
    logStatement(4, LogDest::trace(), traceLine);
    failedAttempt(eventClass);
    return ChannelResult::refused(why);
}

ChannelResult classUnreadable()
{
    reportClassUnreadable(channelWord);
    return ChannelResult::refused("getEventClass failed");
}

ChannelResult entryItemUnreadable(const std::string& eventClass, const char* item)
{
    return orv::journal::cannotRead(eventClass, item, "EventDBEntry", channelWord);
}

ChannelResult invalid(const std::string& eventClass, const char* why)
{
    failedAttempt(eventClass);
    return ChannelResult::refused(why);
}

template <typename Function> bool bind(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

const char* loaderError()
{
    const char* text = dlerror();
    return text ? text : "unknown error";
}

}

RemoteReportingService::RemoteReportingService()
    : m_skipWindow(proxyTimeout())
{
    int rc = pthread_mutex_init(&connectToVarnMutex, nullptr);
    if (rc != 0) {
        logStatement(4, LogDest::trace(), "Failed to initialize connectToVarnMutex lock, rc = %i.", rc);
        throw LockSetupFailed("connectToVarnMutex");
    }
    rc = pthread_mutex_init(&seqNumMutex, nullptr);
    if (rc != 0) {
        logStatement(4, LogDest::trace(), "Failed to initialize seqNumMutex lock, rc = %i.", rc);
        pthread_mutex_destroy(&connectToVarnMutex);
        throw LockSetupFailed("seqNumMutex");
    }
    snprintf(statusCommand, sizeof statusCommand, "%s", "GETSTATUS");
    appName = varnAppName;
    appVersion = KAV_VERSION;
    statusCallback = { statusCommand, get_im_status };
    VarnIMStatus = { varnTarget, 0 };
}

RemoteReportingService::~RemoteReportingService()
{
    if (connectedToVarn) {
        logStatement(2, LogDest::trace(), "KAV shutdown: Closing connection to Varn proxy.");
        m_qobClose(varnCommHandle.load());
    }
    checkLockAtShutdown(connectToVarnMutex, "connectedToVarnMutex");
    checkLockAtShutdown(seqNumMutex, "seqNumMutex");
}

// A lock someone still holds is left alone: releasing or destroying it
// under its holder would break that holder's critical section.
void RemoteReportingService::checkLockAtShutdown(pthread_mutex_t& mutex, const char* name)
{
    int rc = pthread_mutex_trylock(&mutex);
    if (rc == 0) {
        pthread_mutex_unlock(&mutex);
        pthread_mutex_destroy(&mutex);
        return;
    }
    if (rc == EBUSY)
        logStatement(4, LogDest::trace(), "KAV shutdown: %s in unexpected EBUSY state.", name);
    else if (rc == EDEADLK)
        logStatement(4, LogDest::trace(), "KAV shutdown: %s in unexpected EDEADLK state.", name);
    logStatement(4, LogDest::trace(), "KAV shutdown: %s in unexpected state, rc = %i", name, rc);
}

const char* RemoteReportingService::getVarnStatusString(QOBReturnValues rc)
{
    static constexpr const char* texts[] = {
        "success",
        "generic error",
        "IM not registered",
        "invalid parameter",
        "proxy communication failure",
        "proxy is in maintanance mode",
        "internal error",
        "already registered",
        "invalid callback specification",
        "file access error",
        "unregistered mgmt_id",
        "unable to allocate memory",
        "proxy is out of disk space",
        "no callback specified",
    };
    if (rc == QOB_PROXY_TIMED_OUT)
        return "proxy did not answer in time";
    int code = rc;
    if (code < 0 || code >= static_cast<int>(std::size(texts)))
        return "unrecognized/invalid QOBReturnValue";
    return texts[code];
}

std::chrono::milliseconds RemoteReportingService::proxyTimeout()
{
    return orv::io::Deadline::fromEnvironment("QOB_PROXY_TIMEOUT", std::chrono::seconds(10));
}

bool RemoteReportingService::connectToVarn()
{
    PosixMutexGuard guard(connectToVarnMutex, "Attempt to unlock connectToVarnMutex failed, rc = %i.");
    if (!guard.locked()) {
        logStatement(4, LogDest::trace(),
            "Attempt to lock connectToVarnMutex failed, rc = %i, remote reporting aborted.", guard.lockResult());
        failedAttempt("unknown");
        return false;
    }
    if (connectedToVarn)
        return true;
    // Threads that queued behind an attempt that timed out must not each
    // wait out the deadline again.
    if (long left = m_skipWindow.secondsLeft(); left > 0) {
        logStatement(4, LogDest::trace(), "Varn proxy skipped for %ld more seconds after a time-out.", left);
        return false;
    }
    if (!libraryLoaded && !loadLibrary())
        return false;
    return registerWithVarn();
}

// The library is bound by name from the load; it is never unloaded, since
// its threads may call back at any time.
bool RemoteReportingService::loadLibrary()
{
    void* library = dlopen(varnLibrary, RTLD_LAZY);
    bool bound = library && bind(library, "qob_register", m_qobRegister) && bind(library, "qob_senddata", m_qobSenddata)
        && bind(library, "qob_close", m_qobClose);
    qob_sendstatus_t sendStatus = nullptr;
    bound = bound && bind(library, "qob_sendstatus", sendStatus);
    if (!bound) {
        logStatement(2, LogDest::trace(),
            "Varnlink %s library not available, dlopen rc = %s, remote reporting cannot be done.", varnLibrary,
            loaderError());
        if (library)
            dlclose(library);
        return false;
    }
    varnSendStatus.store(sendStatus);
    libraryLoaded = true;
    return true;
}

bool RemoteReportingService::registerWithVarn()
{
    QOBHandle handle = varnCommHandle.load();
    QOBReturnValues rc = m_qobRegister(appName.c_str(), appVersion.c_str(), &handle, &statusCallback, registerArg5,
        registerArg6, registerArg7, registerArg8);
    if (rc == QOB_SUCCESS || rc == QOB_ALREADY_REGISTERED)
        varnCommHandle.store(handle);
    if (rc == QOB_SUCCESS) {
        connectedToVarn = true;
        return true;
    }
    if (rc == QOB_ALREADY_REGISTERED) {
        connectedToVarn = true;
        logStatement(4, LogDest::trace(),
            "Tried to connect to Varn when already connected, logic error, although execution will continue "
            "without error.");
        return true;
    }
    noteTimeOut(rc);
    logStatement(4, LogDest::trace(), "Attempt to connect to Varn failed, rc = %s.", getVarnStatusString(rc));
    return false;
}

void RemoteReportingService::noteTimeOut(QOBReturnValues rc)
{
    if (rc == QOB_PROXY_TIMED_OUT)
        m_skipWindow.timedOut();
}

// True (with the failure pair logged) when the report must not wait on the
// proxy: the daemon is stopping, or the proxy timed out a moment ago.
bool RemoteReportingService::proxySkipped(const std::string& eventClass) const
{
    if (orv::io::shutdownRequested()) {
        logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; remote report cut short by shutdown.", eventClass);
        failedAttempt(eventClass);
        return true;
    }
    long left = m_skipWindow.secondsLeft();
    if (left <= 0)
        return false;
    logStatement(4, LogDest::trace(),
        "EVENT-CLASS: %s; Varn proxy skipped for %ld more seconds after a time-out, remote reporting aborted.",
        eventClass, left);
    failedAttempt(eventClass);
    return true;
}

ChannelResult RemoteReportingService::sendMessage(QOB_Msg_Data* msg)
{
    QOBReturnValues rc = m_qobSenddata(varnCommHandle.load(), varnTarget, msg);
    if (rc == QOB_SUCCESS)
        return ChannelResult::delivered();
    // A send that timed out broke the registration; trying again at once
    // would only wait out another deadline on a proxy that is stuck.
    if (rc == QOB_PROXY_TIMED_OUT) {
        connectedToVarn = false;
        noteTimeOut(rc);
    }
    if (rc == QOB_IM_NOT_REGISTERED || rc == QOB_PROXY_COMM_FAILURE) {
        connectedToVarn = false;
        if (connectToVarn()) {
            rc = m_qobSenddata(varnCommHandle.load(), varnTarget, msg);
            if (rc == QOB_SUCCESS)
                return ChannelResult::delivered();
            if (rc == QOB_PROXY_TIMED_OUT) {
                connectedToVarn = false;
                noteTimeOut(rc);
            }
        }
    }
    logStatement(4, LogDest::trace(), KAV_VARN_SEND_ERR, getVarnStatusString(rc));
    logStatement(4, LogDest::platform(), KAV_VARN_SEND_ERR, getVarnStatusString(rc));
    return ChannelResult::retryable(getVarnStatusString(rc));
}

ChannelResult RemoteReportingService::reportRemoteEvent(
    DXAEvent& event, const EventDBEntry* entry, std::optional<int64_t> sequence)
{
    std::string eventClass;
    if (event.getEventClass(eventClass) != 0)
        return classUnreadable();
    if (proxySkipped(eventClass))
        return ChannelResult::retryable(
            orv::io::shutdownRequested() ? "cut short by shutdown" : "proxy skipped after a time-out");
    if (!connectedToVarn && !connectToVarn()) {
        logStatement(4, LogDest::trace(), KAV_LOST_VARN, eventClass);
        logStatement(4, LogDest::platform(), KAV_LOST_VARN, eventClass);
        return ChannelResult::retryable("no registration with the proxy");
    }

    varnMsg_t msg {};
    std::string subtype;
    if (entry->getEventReportingSubtype(subtype) != 0)
        return entryItemUnreadable(eventClass, "EventReportingSubtype");
    msg.header.msgSubtype = subtype.c_str();
    msg.header.reserved = 0;
    msg.header.hints = &msg.hints;
    msg.hints.persistent = 1;
    msg.hints.urgent = 0;

    orv::EventPriority priority {};
    if (entry->getEventPriority(priority) != 0)
        return entryItemUnreadable(eventClass, "EventPriority");
    if (!orv::isNamedPriority(priority)) {
        logStatement(4, LogDest::trace(),
            "EVENT-CLASS: %s; eventPriority %i from EventDBEntry invalid, remote reporting aborted.", eventClass,
            priority);
        return invalid(eventClass, "invalid priority");
    }
    msg.hints.priority = priority + 1;

    orv::EventReportingType type {};
    if (entry->getEventReportingType(type) != 0)
        return entryItemUnreadable(eventClass, "EventReportingType");
    switch (type) {
    case orv::EVENT_REPORTING_ALARM:
        msg.header.msgType = messageType(type);
        return buildAlarm(event, entry, &msg, sequence);
    case orv::EVENT_REPORTING_EVENT:
        msg.header.msgType = messageType(type);
        return buildEvent(event, entry, &msg, sequence);
    case orv::EVENT_REPORTING_DATA:
        msg.header.msgType = messageType(type);
        return buildData(event, entry, &msg);
    }
    logStatement(4, LogDest::trace(),
        "EVENT-CLASS: %s; eventReportingType %i from EventDBEntry invalid, remote reporting aborted.", eventClass,
        type);
    return invalid(eventClass, "invalid reporting type");
}

const char* RemoteReportingService::messageType(orv::EventReportingType type)
{
    switch (type) {
    case orv::EVENT_REPORTING_ALARM:
        return "ALARM";
    case orv::EVENT_REPORTING_EVENT:
        return "EVENT";
    case orv::EVENT_REPORTING_DATA:
        return "DATA";
    }
    return nullptr;
}

std::string RemoteReportingService::eventText(const std::string& code, const std::string& csn)
{
    // Room for the sequence number that follows, so that a code of
    // megabytes is copied once, not again as the text grows.
    constexpr size_t sequenceRoom = sizeof "-SEQ" + 20;
    std::string text;
    text.reserve(code.size() + 1 + csn.size() + sequenceRoom);
    text += code;
    text += ',';
    text += csn;
    return text;
}

ChannelResult RemoteReportingService::buildAlarm(
    DXAEvent& event, const EventDBEntry* entry, varnMsg_t* msg, std::optional<int64_t> sequence)
{
    return buildNumbered(event, entry, msg, true, sequence);
}

ChannelResult RemoteReportingService::buildEvent(
    DXAEvent& event, const EventDBEntry* entry, varnMsg_t* msg, std::optional<int64_t> sequence)
{
    return buildNumbered(event, entry, msg, false, sequence);
}

// ALARM and EVENT messages: the event part with its numbered event text,
// for an ALARM also the alarm part, then the payload.
ChannelResult RemoteReportingService::buildNumbered(
    DXAEvent& event, const EventDBEntry* entry, varnMsg_t* msg, bool alarm, std::optional<int64_t> sequence)
{
    std::string eventClass;
    if (event.getEventClass(eventClass) != 0)
        return classUnreadable();
    msg->header.event = &msg->event;
    if (event.getEventTimestamp(msg->event.timestamp) != 0)
        return abandon(eventClass, "getEventTimestamp failed for DXAEvent object, remote reporting aborted.",
            "getEventTimestamp failed");
    std::string eventType;
    if (event.getEventType(eventType) != 0)
        return abandon(
            eventClass, "getEventType failed for DXAEvent object, remote reporting aborted.", "getEventType failed");
    std::string origin = varnAppName;
    if (eventType == "FAULT") {
        std::string version;
        if (event.getDiagEngName(origin) != 0) {
            return abandon(eventClass, "getDiagEngName failed for DXAEvent object, remote reporting aborted.",
                "getDiagEngName failed");
        }
        if (event.getDiagEngVersion(version) != 0) {
            return abandon(eventClass, "getDiagEngVersion failed for DXAEvent object, remote reporting aborted.",
                "getDiagEngVersion failed");
        }
        origin += "," + version;
    }
    msg->event.origin = origin.c_str();

    orv::EventSeverity severity {};
    if (entry->getEventSeverity(severity) != 0) {
        return abandon(eventClass, "getEventSeverity failed for EventDBEntry object, remote reporting aborted.",
            "getEventSeverity failed");
    }
    if (!orv::isNamedSeverity(severity)) {
        logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; eventSeverity %i from %s invalid, %s reporting aborted.",
            eventClass, severity, "EventDBEntry", channelWord);
        return invalid(eventClass, "invalid severity");
    }
    msg->event.severity = severity;

    std::string code;
    if (event.getEventCode(code) != 0)
        return abandon(
            eventClass, "getEventCode failed for DXAEvent object, remote reporting aborted.", "getEventCode failed");
    std::string csn;
    if (event.getEventSourcePlatformCSN(csn) != 0) {
        logStatement(4, LogDest::trace(), "EVENT-CLASS: %s; get %s failed for %s object, %s reporting aborted.",
            eventClass, "SourcePlatformCSN", "DXAEvent", channelWord);
        return invalid(eventClass, "cannot read SourcePlatformCSN from DXAEvent");
    }
    char number[20];
    if (sequence)
        snprintf(number, sizeof number, "%08lld", static_cast<long long>(*sequence));
    else if (!takeSequenceNumber(eventClass, number))
        return ChannelResult::retryable("the sequence number's lock failed");
    std::string text = eventText(code, csn);
    text += "-SEQ";
    text += number;
    msg->event.text = text.c_str();
    msg->event.textLength = static_cast<int>(text.size());
    if (alarm) {
        msg->event.alarm = &msg->alarm;
        msg->alarm.alarmId = code.c_str();
        msg->alarm.alarmState = alarmOpenState;
    }

    if (!attachPayload(event, eventClass, msg))
        return ChannelResult::refused("cannot read the packed event");
    ChannelResult result = sendMessage(&msg->header);
    // sendMessage logs its own failures, so this line follows every send.
    logStatement(2, LogDest::trace(), "EVENT-CLASS: %s; successfully sent to Varn proxy, set event text field to %s",
        eventClass, text);
    return result;
}

ChannelResult RemoteReportingService::buildData(DXAEvent& event, const EventDBEntry*, varnMsg_t* msg)
{
    std::string eventClass;
    if (event.getEventClass(eventClass) != 0)
        return classUnreadable();
    if (!attachPayload(event, eventClass, msg))
        return ChannelResult::refused("cannot read the packed event");
    return sendMessage(&msg->header);
}

bool RemoteReportingService::attachPayload(DXAEvent& event, const std::string& eventClass, varnMsg_t* msg)
{
    msg->header.data = &msg->data;
    char* payload = nullptr;
    unsigned length = 0;
    if (event.getPackedEventPayload(&payload, length) != 0) {
        abandon(eventClass, "getPackedEventPayload failed for DXAEvent object, remote reporting aborted.", "");
        return false;
    }
    msg->data = { length, payload, 0, payloadFormat };
    return true;
}

// The counter wraps to 0 after the largest long instead of overflowing.
bool RemoteReportingService::takeSequenceNumber(const std::string& eventClass, char (&number)[20])
{
    PosixMutexGuard guard(seqNumMutex, "Attempt to unlock seqNumMutex failed, rc = %i.");
    if (!guard.locked()) {
        logStatement(4, LogDest::trace(), "Attempt to lock seqNumMutex failed, rc = %i, remote reporting aborted.",
            guard.lockResult());
        failedAttempt(eventClass);
        return false;
    }
    snprintf(number, sizeof number, "%08ld", seqNum);
    seqNum = seqNum == LONG_MAX ? 0 : seqNum + 1;
    return true;
}
