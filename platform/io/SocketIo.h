// Whole-buffer transfers on a stream socket; they retry after EINTR and
// never raise SIGPIPE.
#pragma once

#include <sys/uio.h>
#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace orv::io {

// The address of the socket file `path`; ENAMETOOLONG when it does not fit.
int unixAddress(const std::string& path, sockaddr_un& address);

// 0 once every byte is sent, otherwise the errno value.
int sendAll(int fd, const void* data, size_t length);
// Sends every byte of `parts` (modified as it goes) on a non-blocking
// socket with as few system calls as the socket buffer allows, waiting
// for room at most `limit` in all. 0, EAGAIN when the time ran out,
// otherwise the errno value.
int sendAllWithin(int fd, iovec* parts, int count, std::chrono::milliseconds limit);
// 0 once `length` bytes arrived, EPROTO when the peer closed first,
// otherwise the errno value.
int receiveAll(int fd, void* data, size_t length);
// One attempt that never blocks; for telling a peer why it is dropped,
// where nothing can be done if it fails.
void sendQuietly(int fd, const void* data, size_t length);

}
