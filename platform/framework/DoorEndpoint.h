// The listening socket of one door and its file in the door directory.
//
// Claiming a door is done under a lock on the door directory, so two
// servers starting at once cannot both take it: a socket that still has a
// live server behind it is left alone, one left by a dead server is
// replaced. The file is removed only while it is still this endpoint's.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/io/FdGuard.h"

namespace orv::framework {

class DoorEndpoint {
public:
    DoorEndpoint() = default;
    ~DoorEndpoint();
    DoorEndpoint(const DoorEndpoint&) = delete;
    DoorEndpoint& operator=(const DoorEndpoint&) = delete;

    // 0, or an errno value: EADDRINUSE when a live server has the door,
    // EEXIST when something that is not a socket has its name, EPERM when
    // the door directory could be tampered with by other users.
    int open(const std::string& name);

    int fd() const { return m_listen.get(); }
    const std::string& name() const { return m_name; }
    const std::string& path() const { return m_path; }

    void stopListening() { m_listen.reset(); }
    void remove();

private:
    int claim();
    int clearStale() const;
    int listenAt();

    io::FdGuard m_listen;
    std::string m_name;
    std::string m_dir;
    std::string m_path;
    bool m_bound = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

}
