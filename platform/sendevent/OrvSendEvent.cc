#include "platform/sendevent/OrvSendEvent.h"

#include <cerrno>

#include "platform/io/Deadline.h"
#include "platform/framework/DoorClient.h"
#include "platform/sendevent/OrvEventFrame.h"

using orv::framework::DoorClient;
using orv::framework::DoorReply;
using orv::io::Deadline;

OrvSendEvent::OrvSendEvent(const char* doorName, unsigned, unsigned)
    : m_doorName(doorName ? doorName : "")
{
}

int OrvSendEvent::sendIt(void* frame, int)
{
    if (!frame)
        return EINVAL;
    std::vector<char> bytes = static_cast<OrvEventFrame*>(frame)->encode();
    DoorClient client(m_doorName);
    DoorReply reply;
    if (int rc = client.call(ORV_SEND_EVENT_METHOD, bytes.data(), bytes.size(), reply, Deadline(peerTimeout()));
        rc != 0)
        return rc;
    return reply.status;
}

std::chrono::milliseconds OrvSendEvent::peerTimeout()
{
    return Deadline::fromEnvironment("ORV_PEER_TIMEOUT", std::chrono::seconds(10));
}
