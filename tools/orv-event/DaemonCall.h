// One call of orv-event to the daemon's own door, within the --timeout
// deadline: the operator commands that ask the running daemon.
#pragma once

#include <string>
#include <string_view>

#include "platform/framework/DoorClient.h"

namespace orvevent {

// Calls `method` of the daemon's door with `param`; false when the call
// itself failed, with `failure` saying "door PATH: reason".
bool callDaemon(unsigned method, std::string_view param, orv::framework::DoorReply& reply, std::string& failure);

}
