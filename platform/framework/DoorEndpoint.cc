#include "platform/framework/DoorEndpoint.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/framework/DoorPath.h"
#include "platform/log/LogStatement.h"
#include "platform/io/SocketIo.h"

namespace orv::framework {

namespace {

int makeDirectories(const std::string& dir)
{
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        std::string prefix = dir.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST)
            return errno;
        if (slash == std::string::npos)
            return 0;
    }
}

// Anybody who can write to the directory could swap the door for his own.
int checkOwnership(const std::string& dir)
{
    struct stat st { };
    if (::stat(dir.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if ((st.st_uid != 0 && st.st_uid != ::geteuid()) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        logStatement(4, LogDest::trace(),
            "Door directory %s must belong to root or this user and be writable only by its owner.", dir);
        return EPERM;
    }
    return 0;
}

// Held while a door file is claimed or removed; the lock goes with the fd.
int lockDirectory(const std::string& dir, io::FdGuard& lock)
{
    lock.reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!lock.valid())
        return errno;
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR)
            return errno;
    return 0;
}

// 0 when a server answers at `path`, EAGAIN when one is there but busy,
// ECONNREFUSED when nobody listens any more.
int probe(const std::string& path)
{
    io::FdGuard fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return errno;
    sockaddr_un address;
    io::unixAddress(path, address);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return 0;
    return errno == EINPROGRESS ? EAGAIN : errno;
}

}

DoorEndpoint::~DoorEndpoint()
{
    stopListening();
    remove();
}

int DoorEndpoint::open(const std::string& name)
{
    if (!validDoorName(name))
        return EINVAL;
    m_name = name;
    m_dir = doorDirectory();
    m_path = m_dir + "/" + name;
    if (m_path.size() >= sizeof(sockaddr_un::sun_path))
        return ENAMETOOLONG;
    if (int rc = makeDirectories(m_dir))
        return rc;
    if (int rc = checkOwnership(m_dir))
        return rc;
    return claim();
}

int DoorEndpoint::claim()
{
    io::FdGuard lock;
    if (int rc = lockDirectory(m_dir, lock))
        return rc;
    if (int rc = clearStale())
        return rc;
    return listenAt();
}

int DoorEndpoint::clearStale() const
{
    struct stat st { };
    if (::lstat(m_path.c_str(), &st) != 0)
        return errno == ENOENT ? 0 : errno;
    if (!S_ISSOCK(st.st_mode))
        return EEXIST;
    int rc = probe(m_path);
    if (rc == 0 || rc == EAGAIN)
        return EADDRINUSE;
    if (rc != ECONNREFUSED)
        return rc;
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
        return errno;
    logStatement(2, LogDest::trace(), "Door %s: replaced the socket left by a server that is gone.", m_name);
    return 0;
}

int DoorEndpoint::listenAt()
{
    io::FdGuard fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return errno;
    sockaddr_un address;
    io::unixAddress(m_path, address);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return errno;
    struct stat st { };
    if (::lstat(m_path.c_str(), &st) != 0)
        return errno;
    m_bound = true;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    // Nobody can connect before listen(), so the mode is right before the
    // door opens.
    if (::chmod(m_path.c_str(), 0600) != 0 || ::listen(fd.get(), SOMAXCONN) != 0)
        return errno;
    m_listen = std::move(fd);
    return 0;
}

void DoorEndpoint::remove()
{
    if (!m_bound)
        return;
    m_bound = false;
    io::FdGuard lock;
    lockDirectory(m_dir, lock);
    struct stat st { };
    if (::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(m_path.c_str());
}

}
