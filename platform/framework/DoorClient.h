// Calling a door. A call is synchronous: it returns once the service has
// run and answered, the call failed, its deadline passed or the process
// began to shut down.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/io/Deadline.h"
#include "platform/framework/DoorPath.h"

namespace orv::framework {

struct DoorReply {
    int status = 0; // what the service returned: 0 for doorReturn(), N for doorReturn(N)
    std::vector<char> data;
};

class DoorClient {
public:
    explicit DoorClient(std::string doorName);

    // 0 when the service ran (its answer is in `reply`), otherwise an errno
    // value: ENOENT or ECONNREFUSED no server, EACCES refused, E2BIG
    // parameter too large, ETIMEDOUT request too slow or no answer by the
    // deadline, ECANCELED shutdown began, EPROTO garbled exchange, EIO the
    // service failed. The deadline covers the whole call, connect included.
    int call(unsigned methodId, const void* param, size_t length, DoorReply& reply,
        const io::Deadline& deadline = io::Deadline()) const;

    const std::string& path() const { return m_path; }

private:
    int receiveReply(int fd, DoorReply& reply, const io::Deadline& deadline) const;

    std::string m_path;
};

}
