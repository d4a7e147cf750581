#include "platform/io/FdIo.h"

#include <unistd.h>

namespace orv::io {

namespace {

// A call that wrote nothing sets no errno; the caller is promised one.
bool succeeded(const TransferResult& result)
{
    if (result.error != 0)
        errno = result.error;
    return result.error == 0;
}

}

bool writeAll(int fd, const void* data, size_t length)
{
    const auto* bytes = static_cast<const char*>(data);
    const TransferResult result
        = transferAll(length, [&](size_t done, size_t left) { return ::write(fd, bytes + done, left); });
    return succeeded(result);
}

bool pwriteAll(int fd, const void* data, size_t length, off_t offset)
{
    const auto* bytes = static_cast<const char*>(data);
    const TransferResult result = transferAll(length,
        [&](size_t done, size_t left) { return ::pwrite(fd, bytes + done, left, offset + static_cast<off_t>(done)); });
    return succeeded(result);
}

bool readToEnd(int fd, std::string& text)
{
    char block[16384];
    for (;;) {
        const ssize_t n = retryInterrupted([&] { return ::read(fd, block, sizeof block); });
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(block, static_cast<size_t>(n));
    }
}

}
