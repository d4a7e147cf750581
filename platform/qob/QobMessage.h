// Turns the caller's records into request objects of the proxy protocol,
// checking them first: a record the proxy could not take is refused here
// with QOB_INVALID_PARAMETER instead of being half sent.
#pragma once

#include <nlohmann/json.hpp>

#include "platform/qob/qobimapi.h"

namespace orv::qob {

int senddataRequest(const char* target, const QOB_Msg_Data* msg, nlohmann::ordered_json& request);
int sendstatusRequest(const QOBComponentStatus* status, int count, nlohmann::ordered_json& request);

}
