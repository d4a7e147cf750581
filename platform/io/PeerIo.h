// Transfers on a non-blocking stream socket to a peer that may stop
// answering. Every wait ends at the deadline (ETIMEDOUT) or as soon as the
// process begins to shut down (ECANCELED), so no caller is held by a peer
// for longer than its deadline, nor past a stop. Results are 0 or an errno
// value; a peer that closes early gives EPROTO.
#pragma once

#include <sys/un.h>

#include <cstddef>

#include "platform/io/Deadline.h"

namespace orv::io {

class PeerIo {
public:
    // `fd` must be a non-blocking socket. A listener whose queue is full is
    // tried again until the deadline.
    static int connect(int fd, const sockaddr_un& address, const Deadline& deadline);
    static int sendAll(int fd, const void* data, size_t length, const Deadline& deadline);
    static int receiveAll(int fd, void* data, size_t length, const Deadline& deadline);
    // 0 once `fd` is ready for `events` (or has failed: the next transfer
    // says how).
    static int wait(int fd, short events, const Deadline& deadline);
};

}
