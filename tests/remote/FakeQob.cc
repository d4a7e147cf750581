#include "tests/remote/FakeQob.h"

#include <chrono>
#include <thread>

namespace {

FakeQobState state;

// Counts the call and gives its queued result (0 when none is queued).
int take(const std::string& call)
{
    ++state.calls[call];
    auto& results = state.queued[call];
    if (results.empty())
        return 0;
    int rc = results.front();
    results.pop_front();
    return rc;
}

long offset(const void* part, const void* header)
{
    return part ? static_cast<const char*>(part) - static_cast<const char*>(header) : 0;
}

std::string text(const char* value)
{
    return value ? value : "(null)";
}

FakeQobSent capture(QOBHandle handle, const char* target, const QOB_Msg_Data* msg)
{
    FakeQobSent s;
    s.handle = handle;
    s.target = text(target);
    s.type = text(msg->msgType);
    s.subtype = text(msg->msgSubtype);
    s.reserved = msg->reserved;
    s.eventAt = offset(msg->event, msg);
    s.dataAt = offset(msg->data, msg);
    s.hintsAt = offset(msg->hints, msg);
    if (const QOB_Event_Data* e = msg->event) {
        s.timestamp = e->timestamp;
        s.origin = text(e->origin);
        s.severity = e->severity;
        s.textLength = e->textLength;
        s.text = text(e->text);
        s.alarmAt = offset(e->alarm, msg);
        if (e->alarm) {
            s.alarmId = text(e->alarm->alarmId);
            s.alarmState = text(e->alarm->alarmState);
        }
    }
    if (const QOB_Data* d = msg->data) {
        s.bytes.assign(d->bytes, d->length);
        s.dataReserved = d->reserved;
        s.format = text(d->format);
    }
    if (const QOB_Hints* h = msg->hints) {
        s.hints[0] = h->priority;
        s.hints[1] = h->persistent;
        s.hints[2] = h->urgent;
    }
    return s;
}

}

extern "C" {

FakeQobState* fakeqob_state()
{
    return &state;
}

QOBReturnValues qob_register(const char* appName, const char* appVersion, QOBHandle* handle, QOBCallback* callbacks,
    int callbackCount, int options, int reserved, int protocolVersion)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(state.registerDelayMs));
    std::lock_guard lock(state.mutex);
    state.app = text(appName);
    state.version = text(appVersion);
    state.callback = *callbacks;
    int args[4] = { callbackCount, options, reserved, protocolVersion };
    std::copy(args, args + 4, state.registerArgs);
    int rc = take("register");
    if (rc == QOB_SUCCESS || rc == QOB_ALREADY_REGISTERED)
        *handle = ++state.nextHandle;
    return static_cast<QOBReturnValues>(rc);
}

QOBReturnValues qob_senddata(QOBHandle handle, const char* target, QOB_Msg_Data* msg)
{
    std::lock_guard lock(state.mutex);
    state.sent.push_back(capture(handle, target, msg));
    return static_cast<QOBReturnValues>(take("senddata"));
}

int qob_sendstatus(QOBHandle handle, QOBComponentStatus* status, int count)
{
    std::lock_guard lock(state.mutex);
    state.statusHandle = handle;
    state.statusComponent = text(status->componentName);
    state.status = status->status;
    state.statusCount = count;
    return take("sendstatus");
}

QOBReturnValues qob_close(QOBHandle handle)
{
    std::lock_guard lock(state.mutex);
    state.closed = handle;
    return static_cast<QOBReturnValues>(take("close"));
}
}
