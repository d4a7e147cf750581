#include "platform/framework/DoorProtocol.h"

namespace orv::framework {

namespace {

void put32(unsigned char* at, uint32_t value)
{
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

uint32_t get32(const unsigned char* at)
{
    return (uint32_t(at[0]) << 24) | (uint32_t(at[1]) << 16) | (uint32_t(at[2]) << 8) | uint32_t(at[3]);
}

}

DoorProtocol::RequestBytes DoorProtocol::encode(const Request& request)
{
    RequestBytes bytes {};
    put32(&bytes[0], REQUEST_MAGIC);
    put32(&bytes[4], request.method);
    put32(&bytes[8], request.length);
    return bytes;
}

DoorProtocol::ReplyBytes DoorProtocol::encode(const Reply& reply)
{
    ReplyBytes bytes {};
    put32(&bytes[0], REPLY_MAGIC);
    put32(&bytes[4], static_cast<uint32_t>(reply.outcome));
    put32(&bytes[8], static_cast<uint32_t>(reply.status));
    put32(&bytes[12], reply.length);
    return bytes;
}

bool DoorProtocol::decode(const RequestBytes& bytes, Request& request)
{
    if (get32(&bytes[0]) != REQUEST_MAGIC)
        return false;
    request.method = get32(&bytes[4]);
    request.length = get32(&bytes[8]);
    return true;
}

bool DoorProtocol::decode(const ReplyBytes& bytes, Reply& reply)
{
    if (get32(&bytes[0]) != REPLY_MAGIC)
        return false;
    reply.outcome = static_cast<int32_t>(get32(&bytes[4]));
    reply.status = static_cast<int32_t>(get32(&bytes[8]));
    reply.length = get32(&bytes[12]);
    return reply.length <= MAX_PAYLOAD;
}

}
