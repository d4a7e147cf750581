#include "platform/qob/QobFrame.h"

#include <cstdint>

#include "platform/io/SocketIo.h"

namespace orv::qob {

std::string frameHeader(size_t length)
{
    const auto count = static_cast<uint32_t>(length);
    std::string header;
    for (int shift = 24; shift >= 0; shift -= 8)
        header += static_cast<char>((count >> shift) & 0xff);
    return header;
}

std::string encodeFrame(std::string_view payload)
{
    std::string frame;
    frame.reserve(4 + payload.size());
    frame += frameHeader(payload.size());
    frame += payload;
    return frame;
}

size_t frameLength(const unsigned char* header)
{
    return (size_t { header[0] } << 24) | (size_t { header[1] } << 16) | (size_t { header[2] } << 8)
        | size_t { header[3] };
}

bool writeFrame(int fd, std::string_view payload)
{
    if (payload.size() > maxFrameBytes)
        return false;
    std::string frame = encodeFrame(payload);
    return io::sendAll(fd, frame.data(), frame.size()) == 0;
}

bool readFrame(int fd, std::string& payload)
{
    unsigned char header[4];
    if (io::receiveAll(fd, header, sizeof header) != 0)
        return false;
    size_t length = frameLength(header);
    if (length > maxFrameBytes)
        return false;
    payload.assign(length, '\0');
    return io::receiveAll(fd, payload.data(), length) == 0;
}

}
