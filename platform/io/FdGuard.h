// Owner of one file descriptor: closes it on every path out of a scope.
#pragma once

#include <unistd.h>

#include <utility>

namespace orv::io {

class FdGuard {
public:
    FdGuard() = default;
    explicit FdGuard(int fd)
        : m_fd(fd)
    {
    }
    FdGuard(FdGuard&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    FdGuard& operator=(FdGuard&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    ~FdGuard() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

    // Gives the descriptor up without closing it (for a caller that closes
    // it itself to see the result).
    int release() { return std::exchange(m_fd, -1); }

    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

}
