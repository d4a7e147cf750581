// The open log files of the process, one per destination, reopened when a
// file is replaced or removed underneath (rotation, an administrator's rm).
// Thread safe: its own lock covers only finding the file; each line goes
// out with one write() to an O_APPEND descriptor, which the kernel keeps
// whole against other writers, outside any lock.
//
// A line that cannot be written is reported to the caller, which makes it
// known; so is each span in which a file loses lines, so that the caller
// can say so once per span rather than once per line.
#pragma once

#include <atomic>
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

    // What became of one line.
    struct Written {
        // 0 when the whole line was written; otherwise why not (errno).
        int error = 0;
        // The line is the first this file lost since it was last written.
        bool lossBegins = false;
        // Nonzero: the line is the first written after this many were lost.
        unsigned long lostBefore = 0;
        // The log folder was missing and was made again for this line.
        bool folderMade = false;
    };

    LogFiles() = default;
    LogFiles(const LogFiles&) = delete;
    LogFiles& operator=(const LogFiles&) = delete;

    // Appends `line` (already newline terminated) to destination `index`.
    // Never stops the caller: a failure is only reported. A line written
    // to a file that has been removed meanwhile is written again to the
    // file made under its name (and the folder, if that went too). After
    // a line cut short (a full file system), the next line written to the
    // file starts on a line of its own.
    Written append(int index, std::string_view line);

    // Forgets every open file and rereads the log directory from the
    // environment. A line being written meanwhile still goes to the file
    // it started on.
    void reopen();

    // The path of destination `index`'s file.
    std::string path(int index) EXCLUDES(m_mutex);

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
        // The last line written was cut short: the file ends inside it.
        std::atomic<bool> torn { false };
    };
    struct Slot {
        std::shared_ptr<OpenFile> file;
        long long lastCheck = 0; // seconds, monotonic
    };
    // Lines lost in a row by one destination; kept across reopening.
    struct Loss {
        std::atomic<bool> losing { false };
        unsigned long lost = 0; // guarded by m_mutex
    };

    static std::string fileName(int index);
    void knowDirectory() REQUIRES(m_mutex);
    std::shared_ptr<OpenFile> fileFor(int index, Written& written) EXCLUDES(m_mutex);
    int ensureOpen(int index, Written& written) REQUIRES(m_mutex);
    bool stillCurrent(int index, long long now) REQUIRES(m_mutex);
    void forget(int index, const std::shared_ptr<OpenFile>& file) EXCLUDES(m_mutex);
    static int writeLine(OpenFile& file, std::string_view line);
    void account(int index, Written& written) EXCLUDES(m_mutex);

    orv::base::Mutex m_mutex;
    std::string m_dir GUARDED_BY(m_mutex);
    bool m_dirKnown GUARDED_BY(m_mutex) = false;
    Slot m_slots[count] GUARDED_BY(m_mutex);
    Loss m_losses[count];
};

}
