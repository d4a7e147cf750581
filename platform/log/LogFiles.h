// The open log files of the process, one per destination, reopened when a
// file is replaced or removed underneath (rotation, an administrator's rm).
// Thread safe: its own lock covers only finding the file; each line goes
// out with one write() to an O_APPEND descriptor, which the kernel keeps
// whole against other writers, outside any lock.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/base/Mutex.h"
#include "platform/io/FdGuard.h"

namespace orv::log {

class LogFiles {
public:
    static constexpr int traceIndex = 0;
    static constexpr int platformIndex = 1;
    static constexpr int firstDomainIndex = 2;
    static constexpr int domainCount = 18;
    static constexpr int count = firstDomainIndex + domainCount;

    LogFiles() = default;
    LogFiles(const LogFiles&) = delete;
    LogFiles& operator=(const LogFiles&) = delete;

    // Appends `line` (already newline terminated) to destination `index`.
    // Failures are swallowed: logging must never stop the caller.
    void append(int index, std::string_view line);

    // Forgets every open file and rereads the log directory from the
    // environment. A line being written meanwhile still goes to the file
    // it started on.
    void reopen();

private:
    // Closed when the last writer using it is done.
    struct OpenFile {
        OpenFile(io::FdGuard fd, long long inode)
            : fd(std::move(fd))
            , inode(inode)
        {
        }

        io::FdGuard fd;
        long long inode;
    };
    struct Slot {
        std::shared_ptr<OpenFile> file;
        long long lastCheck = 0; // seconds, monotonic
    };

    static std::string fileName(int index);
    std::shared_ptr<OpenFile> fileFor(int index) EXCLUDES(m_mutex);
    bool ensureOpen(int index) REQUIRES(m_mutex);
    bool stillCurrent(int index, long long now) REQUIRES(m_mutex);

    orv::base::Mutex m_mutex;
    std::string m_dir GUARDED_BY(m_mutex);
    bool m_dirKnown GUARDED_BY(m_mutex) = false;
    Slot m_slots[count] GUARDED_BY(m_mutex);
};

}
