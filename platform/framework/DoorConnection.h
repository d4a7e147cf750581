// One accepted door connection. It counts itself among the server's open
// connections for as long as it lives, so the reader can stop accepting
// before the process runs out of descriptors.
#pragma once

#include <sys/types.h>

#include <atomic>

#include "DoorProtocol.h"
#include "FdGuard.h"

class DoorConnection {
public:
    DoorConnection(int fd, std::atomic<unsigned>& openCount);
    ~DoorConnection();
    DoorConnection(const DoorConnection&) = delete;
    DoorConnection& operator=(const DoorConnection&) = delete;

    int fd() const { return m_fd.get(); }

    // The caller's uid, or -1 when the kernel cannot tell.
    long peerUid() const;
    // Only root and the server's own user may call.
    bool peerAllowed() const;

    // Tells the caller why it is dropped, without ever blocking the reader.
    void refuse(int outcome) const;
    // Sends the reply, waiting a bounded time for a slow caller to take it.
    // 0 or an errno value.
    int reply(const DoorProtocol::Reply& header, const void* data) const;

private:
    FdGuard m_fd;
    std::atomic<unsigned>& m_openCount;
};
