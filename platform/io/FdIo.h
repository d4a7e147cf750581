// Whole transfers on a file descriptor. A signal that interrupts a call and a
// call that moves fewer bytes than asked are both carried on here, so that a
// caller sees only "all of it" or a real failure.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "platform/io/Status.h"

namespace orv::io {

struct TransferResult {
    size_t moved = 0;
    // 0 once every byte moved; the errno value of a call that failed;
    // ENODATA when a call moved nothing (end of file, a closed peer).
    int error = 0;
};

// Repeats `call` while a signal interrupts it; the last call's result,
// with errno as that call left it.
template <typename Call> auto retryInterrupted(Call call) -> decltype(call())
{
    decltype(call()) result;
    do
        result = call();
    while (result < 0 && errno == EINTR);
    return result;
}

// Moves `length` bytes through `call(done, left)`, which moves at most
// `left` bytes starting `done` bytes in and returns what read(2) or
// write(2) would.
template <typename Call> TransferResult transferAll(size_t length, Call call)
{
    TransferResult result;
    while (result.moved < length) {
        const ssize_t n = retryInterrupted([&] { return call(result.moved, length - result.moved); });
        if (n <= 0) {
            result.error = n < 0 ? errno : ENODATA;
            break;
        }
        result.moved += static_cast<size_t>(n);
    }
    return result;
}

// Each OK once every byte is written; otherwise the failed write and why
// (ENODATA when a write moved nothing).
Status writeAll(int fd, const void* data, size_t length);
Status pwriteAll(int fd, const void* data, size_t length, off_t offset);
// Appends what is left of `fd`, up to its end, to `text`; OK, or the failed
// read and why.
Status readToEnd(int fd, std::string& text);

}
