#include "platform/log/LogFiles.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/io/FdIo.h"
#include "platform/io/FileOpen.h"

namespace orv::log {

namespace {

constexpr const char* defaultLogDir = "/var/opt/KTRXORV/ORV/logs";

long long monotonicSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec;
}

}

std::string LogFiles::fileName(int index)
{
    if (index == traceIndex)
        return "trace.log";
    if (index == platformIndex)
        return "platform.log";
    return std::string("domain-") + char('A' + (index - firstDomainIndex)) + ".log";
}

void LogFiles::reopen()
{
    orv::base::MutexLock lock(m_mutex);
    for (auto& slot : m_slots)
        slot = Slot {};
    m_dirKnown = false;
}

bool LogFiles::ensureOpen(int index)
{
    if (!m_dirKnown) {
        const char* dir = getenv("ORV_LOG_DIR");
        m_dir = (dir && *dir) ? dir : defaultLogDir;
        m_dirKnown = true;
        std::error_code ignored;
        std::filesystem::create_directories(m_dir, ignored);
    }
    Slot& slot = m_slots[index];
    if (slot.file)
        return true;
    std::string path = m_dir + "/" + fileName(index);
    io::FdGuard fd;
    if (!io::openLogFile(path, fd).ok())
        return false;
    struct stat st { };
    fstat(fd.get(), &st);
    slot.file = std::make_shared<OpenFile>(std::move(fd), static_cast<long long>(st.st_ino));
    slot.lastCheck = monotonicSeconds();
    return true;
}

// A file removed or renamed away keeps its descriptor working, so once a
// second we look whether the name still leads to the file we write to.
bool LogFiles::stillCurrent(int index, long long now)
{
    Slot& slot = m_slots[index];
    if (now == slot.lastCheck)
        return true;
    slot.lastCheck = now;
    std::string path = m_dir + "/" + fileName(index);
    struct stat st { };
    if (stat(path.c_str(), &st) != 0)
        return false;
    return static_cast<long long>(st.st_ino) == slot.file->inode;
}

std::shared_ptr<LogFiles::OpenFile> LogFiles::fileFor(int index)
{
    orv::base::MutexLock lock(m_mutex);
    if (m_slots[index].file && !stillCurrent(index, monotonicSeconds()))
        m_slots[index] = Slot {};
    if (!ensureOpen(index))
        return nullptr;
    return m_slots[index].file;
}

void LogFiles::append(int index, std::string_view line)
{
    if (index < 0 || index >= count)
        return;
    std::shared_ptr<OpenFile> file = fileFor(index);
    if (!file)
        return;
    // A line that cannot be written is lost: there is nowhere to say so.
    (void)io::writeAll(file->fd.get(), line.data(), line.size());
}

}
