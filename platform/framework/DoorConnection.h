// One accepted door connection. It counts itself among the server's open
// connections for as long as it holds its descriptor, so the door threads
// can stop accepting before the process runs out of descriptors. Movable,
// so a door thread can keep one in place and reuse it call after call.
#pragma once

#include <sys/types.h>

#include <atomic>

#include "platform/framework/DoorProtocol.h"
#include "platform/io/FdGuard.h"

namespace orv::framework {

class DoorConnection {
public:
    DoorConnection() = default;
    DoorConnection(int fd, std::atomic<unsigned>& openCount);
    DoorConnection(DoorConnection&& other) noexcept;
    DoorConnection& operator=(DoorConnection&& other) noexcept;
    ~DoorConnection();
    DoorConnection(const DoorConnection&) = delete;
    DoorConnection& operator=(const DoorConnection&) = delete;

    int fd() const { return m_fd.get(); }
    bool valid() const { return m_fd.valid(); }
    // Closes the connection; it no longer counts as open.
    void close();

    // The caller's uid, or -1 when the kernel cannot tell.
    long peerUid() const;
    // Only root and the server's own user may call.
    bool peerAllowed() const;

    // Tells the caller why it is dropped, without ever blocking.
    void refuse(int outcome) const;
    // Sends the reply, waiting a bounded time for a slow caller to take it.
    // 0 or an errno value.
    int reply(const DoorProtocol::Reply& header, const void* data) const;

private:
    io::FdGuard m_fd;
    std::atomic<unsigned>* m_openCount = nullptr;
};

}
