#include "platform/qob/QobMessage.h"

#include <utility>

#include "platform/text/Base64.h"
#include "platform/text/JsonText.h"

namespace orv::qob {

namespace {

using nlohmann::ordered_json;

// Texts travel byte for byte: a JSON string when they are UTF-8, otherwise
// {"base64": ...}, which JSON can carry whatever the bytes.
ordered_json text(const char* value)
{
    return value ? orv::text::toJsonText(value) : ordered_json(nullptr);
}

bool eventPart(const QOB_Event_Data* event, ordered_json& out)
{
    if (!event) {
        out = nullptr;
        return true;
    }
    if (event->textLength < 0)
        return false;
    ordered_json alarm = nullptr;
    if (event->alarm)
        alarm = { { "id", text(event->alarm->alarmId) }, { "state", text(event->alarm->alarmState) } };
    out = { { "timestamp", event->timestamp }, { "origin", text(event->origin) }, { "severity", event->severity },
        { "textLength", event->textLength }, { "text", text(event->text) }, { "alarm", alarm } };
    return true;
}

bool dataPart(const QOB_Data* data, ordered_json& out)
{
    if (!data) {
        out = nullptr;
        return true;
    }
    if (data->reserved != 0 || (data->length > 0 && !data->bytes))
        return false;
    out = { { "length", data->length }, { "format", text(data->format) },
        { "base64", orv::text::base64Encode(std::string_view(data->bytes, data->length)) } };
    return true;
}

}

int senddataRequest(const char* target, const QOB_Msg_Data* msg, ordered_json& request)
{
    if (!target || !msg || !msg->msgType || msg->reserved != 0)
        return QOB_INVALID_PARAMETER;
    ordered_json event;
    ordered_json data;
    if (!eventPart(msg->event, event) || !dataPart(msg->data, data))
        return QOB_INVALID_PARAMETER;
    ordered_json hints = nullptr;
    if (msg->hints)
        hints = { msg->hints->priority, msg->hints->persistent, msg->hints->urgent };
    // Moved in: the data part holds the payload's base64 text, megabytes
    // for a large event.
    request
        = { { "op", "senddata" }, { "target", target }, { "type", msg->msgType }, { "subtype", text(msg->msgSubtype) },
              { "event", std::move(event) }, { "data", std::move(data) }, { "hints", std::move(hints) } };
    return QOB_SUCCESS;
}

int sendstatusRequest(const QOBComponentStatus* status, int count, ordered_json& request)
{
    if (count < 0 || (count > 0 && !status))
        return QOB_INVALID_PARAMETER;
    ordered_json components = ordered_json::array();
    for (int i = 0; i < count; ++i)
        components.push_back({ { "name", text(status[i].componentName) }, { "status", status[i].status } });
    request = { { "op", "sendstatus" }, { "components", components } };
    return QOB_SUCCESS;
}

}
