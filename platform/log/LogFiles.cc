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

std::string LogFiles::path(int index)
{
    orv::base::MutexLock lock(m_mutex);
    knowDirectory();
    return m_dir + "/" + fileName(index);
}

void LogFiles::knowDirectory()
{
    if (m_dirKnown)
        return;
    const char* dir = getenv("ORV_LOG_DIR");
    m_dir = (dir && *dir) ? dir : defaultLogDir;
    m_dirKnown = true;
    std::error_code ignored;
    std::filesystem::create_directories(m_dir, ignored);
}

// 0, or why the file cannot be opened (errno).
int LogFiles::ensureOpen(int index, Written& written)
{
    knowDirectory();
    Slot& slot = m_slots[index];
    if (slot.file)
        return 0;
    const std::string path = m_dir + "/" + fileName(index);
    io::FdGuard fd;
    io::Status opened = io::openLogFile(path, fd);
    if (opened.code() == ENOENT) {
        // The folder has gone: it is made again, as reopening would.
        std::error_code failed;
        if (std::filesystem::create_directories(m_dir, failed)) {
            written.folderMade = true;
            opened = io::openLogFile(path, fd);
        }
    }
    if (!opened.ok())
        return opened.code();
    struct stat st { };
    fstat(fd.get(), &st);
    slot.file = std::make_shared<OpenFile>(std::move(fd), static_cast<long long>(st.st_ino));
    slot.lastCheck = monotonicSeconds();
    return 0;
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

std::shared_ptr<LogFiles::OpenFile> LogFiles::fileFor(int index, Written& written)
{
    orv::base::MutexLock lock(m_mutex);
    if (m_slots[index].file && !stillCurrent(index, monotonicSeconds()))
        m_slots[index] = Slot {};
    written.error = ensureOpen(index, written);
    return written.error == 0 ? m_slots[index].file : nullptr;
}

void LogFiles::forget(int index, const std::shared_ptr<OpenFile>& file)
{
    orv::base::MutexLock lock(m_mutex);
    if (m_slots[index].file == file)
        m_slots[index] = Slot {};
}

// 0, or why the line was not written whole. A line cut short leaves the
// file without its newline; the next line supplies it first.
int LogFiles::writeLine(OpenFile& file, std::string_view line)
{
    const bool torn = file.torn.exchange(false);
    std::string completed;
    if (torn) {
        completed.reserve(line.size() + 1);
        completed += '\n';
        completed += line;
        line = completed;
    }
    const io::TransferResult result = io::transferAll(
        line.size(), [&](size_t done, size_t left) { return ::write(file.fd.get(), line.data() + done, left); });
    if (result.error != 0 && (result.moved > 0 || torn))
        file.torn = true;
    return result.error;
}

// Keeps count of the lines a destination loses in a row; the first line
// lost and the first written again are marked for the caller.
void LogFiles::account(int index, Written& written)
{
    Loss& loss = m_losses[index];
    if (written.error == 0 && !loss.losing.load(std::memory_order_relaxed))
        return;
    orv::base::MutexLock lock(m_mutex);
    if (written.error != 0) {
        written.lossBegins = !loss.losing.exchange(true);
        ++loss.lost;
    } else if (loss.losing.exchange(false)) {
        written.lostBefore = loss.lost;
        loss.lost = 0;
    }
}

LogFiles::Written LogFiles::append(int index, std::string_view line)
{
    Written written;
    if (index < 0 || index >= count)
        return written;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::shared_ptr<OpenFile> file = fileFor(index, written);
        if (!file)
            break;
        written.error = writeLine(*file, line);
        // A file removed (or its folder) still takes lines, which are then
        // lost: such a line is written again, to the file made anew.
        struct stat st { };
        if (written.error != 0 || attempt > 0 || fstat(file->fd.get(), &st) != 0 || st.st_nlink > 0)
            break;
        forget(index, file);
    }
    account(index, written);
    return written;
}

}
