#include "platform/io/FdIo.h"

#include <unistd.h>

namespace orv::io {

namespace {

Status statusOf(const char* action, const TransferResult& result)
{
    return result.error == 0 ? Status() : Status::posixError(action, result.error);
}

}

Status writeAll(int fd, const void* data, size_t length)
{
    const auto* bytes = static_cast<const char*>(data);
    const TransferResult result
        = transferAll(length, [&](size_t done, size_t left) { return ::write(fd, bytes + done, left); });
    return statusOf("write", result);
}

Status pwriteAll(int fd, const void* data, size_t length, off_t offset)
{
    const auto* bytes = static_cast<const char*>(data);
    const TransferResult result = transferAll(length,
        [&](size_t done, size_t left) { return ::pwrite(fd, bytes + done, left, offset + static_cast<off_t>(done)); });
    return statusOf("pwrite", result);
}

Status readToEnd(int fd, std::string& text)
{
    char block[16384];
    for (;;) {
        const ssize_t n = retryInterrupted([&] { return ::read(fd, block, sizeof block); });
        if (n < 0)
            return Status::posixError("read", errno);
        if (n == 0)
            return Status();
        text.append(block, static_cast<size_t>(n));
    }
}

}
