#include "platform/io/FileOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/io/FdIo.h"

namespace orv::io {

namespace {

Status openAs(const char* action, const std::string& path, int flags, mode_t mode, FdGuard& fd)
{
    fd.reset(::open(path.c_str(), flags | O_CLOEXEC, mode));
    return fd.valid() ? Status() : Status::posixError(action + (" " + path), errno);
}

// Refuses anything but a regular file, and with `owned` a file another
// user owns.
Status checkFile(const std::string& path, FdGuard& fd, bool owned)
{
    struct stat info { };
    Status status;
    if (fstat(fd.get(), &info) != 0)
        status = Status::posixError("stat " + path, errno);
    else if (!S_ISREG(info.st_mode))
        status = Status::refused("open " + path, "not a regular file", EINVAL);
    else if (owned && info.st_uid != geteuid())
        status = Status::refused("open " + path, "owned by uid " + std::to_string(info.st_uid), EPERM);
    if (!status.ok())
        fd.reset();
    return status;
}

}

Status createScratchFile(const std::string& path, FdGuard& fd)
{
    return openAs("create", path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0400, fd);
}

Status openScratchFile(const std::string& path, FdGuard& fd)
{
    if (Status status = openAs("open", path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, fd); !status.ok())
        return status;
    return checkFile(path, fd, true);
}

Status readScratchFile(const std::string& path, std::string& content)
{
    content.clear();
    FdGuard fd;
    if (Status status = openScratchFile(path, fd); !status.ok())
        return status;
    if (const Status read = readToEnd(fd.get(), content); !read.ok())
        return Status::posixError("read " + path, read.code());
    return Status();
}

Status openConfigFile(const std::string& path, FdGuard& fd)
{
    return openAs("open", path, O_RDONLY, 0, fd);
}

Status openRegularConfigFile(const std::string& path, FdGuard& fd)
{
    if (Status status = openAs("open", path, O_RDONLY | O_NONBLOCK, 0, fd); !status.ok())
        return status;
    return checkFile(path, fd, false);
}

Status openLogFile(const std::string& path, FdGuard& fd)
{
    return openAs("open", path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0640, fd);
}

}
