#include "tools/orv-event/DaemonCall.h"

#include <cstring>

#include "platform/framework/DoorPath.h"
#include "tools/orv-event/TimeoutOption.h"

namespace orvevent {

bool callDaemon(unsigned method, std::string_view param, orv::framework::DoorReply& reply, std::string& failure)
{
    orv::framework::DoorClient client(KAV_DOOR);
    const int rc = client.call(method, param.data(), param.size(), reply, callDeadline());
    if (rc != 0)
        failure = "door " + client.path() + ": " + std::strerror(rc);
    return rc == 0;
}

}
