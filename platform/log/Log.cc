#include "platform/log/Log.h"

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/io/FdIo.h"
#include "platform/log/LogFiles.h"
#include "platform/log/LogLine.h"
#include "platform/log/LogStatement.h"
#include "platform/log/LogWatch.h"
#include "platform/log/MessageCatalog.h"
#include "platform/text/EnvInteger.h"

using orv::log::CatalogEntry;
using orv::log::LogFiles;
using orv::log::LogLine;
using orv::log::LogWatch;

MsgParts msgParts {};
pthread_mutex_t msgPartsMutex = PTHREAD_MUTEX_INITIALIZER;
int msgAction = 0;

namespace {

constexpr int defaultLevel = 2;
constexpr int eventMessageArgs = 20;

std::atomic<int> thresholdLevel { -1 }; // -1: not read from the environment yet
// A plain array: the tag is set from static initialisers of other units.
char programTag[64] = "orv";

// Each thread picks its own destination, so one thread's selection never
// redirects a line of another.
thread_local int threadDestination = LogFiles::traceIndex;

// Safe to use from any thread: it has its own lock.
LogFiles& logFiles()
{
    static LogFiles files;
    return files;
}

// getpid() is a system call, and every line carries the pid; it changes
// only in a forked child, where the fork handler takes the new one.
pid_t processId()
{
    static pid_t pid = [] {
        pthread_atfork(nullptr, nullptr, [] { pid = getpid(); });
        return getpid();
    }();
    return pid;
}

int readThreshold()
{
    return static_cast<int>(orv::text::integerFromEnvironment("ORV_LOG_LEVEL", 0, 100).value_or(defaultLevel));
}

// Formats once into a buffer on the stack, which holds every ordinary
// line; only a longer text is formatted a second time, to its full length.
std::string formatV(const char* format, va_list args)
{
    char buffer[1024];
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    if (length <= 0)
        return {};
    if (static_cast<size_t>(length) < sizeof buffer)
        return std::string(buffer, static_cast<size_t>(length));
    std::string text(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string eventMessageWithoutEntry(int id, va_list args)
{
    std::string text = "MSG" + std::to_string(id) + ":";
    for (int i = 0; i < eventMessageArgs; ++i) {
        const char* arg = va_arg(args, const char*);
        if (arg && *arg) {
            text += ' ';
            text += arg;
        }
    }
    return text;
}

std::string messageText(int id, va_list args)
{
    if (id == 0) {
        const char* format = va_arg(args, const char*);
        return format ? formatV(format, args) : std::string();
    }
    const CatalogEntry* entry = orv::log::catalogEntry(id);
    if (!entry)
        return eventMessageWithoutEntry(id, args);
    std::string text = entry->name;
    text += ": ";
    text += formatV(orv::log::translatedText(*entry), args);
    return text;
}

}

hrtime_t gethrtime()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<hrtime_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int logThisLevel(int level)
{
    int threshold = thresholdLevel.load(std::memory_order_relaxed);
    if (threshold < 0) {
        threshold = readThreshold();
        thresholdLevel.store(threshold, std::memory_order_relaxed);
    }
    return level >= threshold ? 1 : 0;
}

void setTraceType()
{
    threadDestination = LogFiles::traceIndex;
}

void setPlatformType()
{
    threadDestination = LogFiles::platformIndex;
}

void setDomainID(int domain)
{
    // An index outside A..R selects nothing: the line is dropped rather
    // than written to some other domain's log.
    if (domain < 0 || domain >= LogFiles::domainCount) {
        threadDestination = -1;
        return;
    }
    threadDestination = LogFiles::firstDomainIndex + domain;
}

void setProgramTag(const char* tag)
{
    pthread_mutex_lock(&msgPartsMutex);
    snprintf(programTag, sizeof programTag, "%s", tag ? tag : "");
    pthread_mutex_unlock(&msgPartsMutex);
}

namespace {

// What a statement staged, copied out so the lock can be let go before the
// line is formatted and written.
struct StagedLine {
    int level;
    int sourceLine;
    int destination;
    char sourceFile[sizeof msgParts.sourceFile];
    char tag[sizeof programTag];
};

// Called with msgPartsMutex held.
void takeStaged(StagedLine& staged)
{
    staged.level = msgParts.level;
    staged.sourceLine = msgParts.line;
    staged.destination = threadDestination;
    std::memcpy(staged.sourceFile, msgParts.sourceFile, sizeof staged.sourceFile);
    staged.sourceFile[sizeof staged.sourceFile - 1] = '\0';
    std::memcpy(staged.tag, programTag, sizeof staged.tag);
}

}

namespace {

// A note about the log files themselves, on standard error (the service's
// journal), since the files are where the fault is: one line of the usual
// form, at the position of the statement whose line it is about.
void noteOnStandardError(const StagedLine& staged, int level, const std::string& text)
{
    timeval now {};
    gettimeofday(&now, nullptr);
    const std::string line
        = LogLine { now, staged.tag, processId(), level, staged.sourceFile, staged.sourceLine }.format(text);
    (void)orv::io::writeAll(STDERR_FILENO, line.data(), line.size());
}

// Makes a line that was not written known: to the report it may belong to,
// and once for each span of lost lines of a file on standard error, not
// once per line.
void lineNotWritten(const StagedLine& staged, const LogFiles::Written& written)
{
    const std::string path = logFiles().path(staged.destination);
    LogWatch::notifyNotWritten(path + ": " + std::strerror(written.error));
    if (written.lossBegins)
        noteOnStandardError(staged, 4, path + ": log lines are being lost: " + std::strerror(written.error));
}

void lineWritten(const StagedLine& staged, const LogFiles::Written& written)
{
    if (written.lostBefore != 0) {
        noteOnStandardError(staged, 3,
            logFiles().path(staged.destination) + ": log lines are written again, " + std::to_string(written.lostBefore)
                + " lost meanwhile");
    }
    if (written.folderMade) {
        // The library's own remark leaves the thread's destination as it was.
        const int destination = threadDestination;
        logStatement(3, LogDest::platform(), LOG_FOLDER_MADE_AGAIN, logFiles().path(staged.destination));
        threadDestination = destination;
    }
}

}

// The lock guards the staging record only: once it is copied, the next
// statement may stage while this one formats and writes. Each line goes
// out in one write() to an O_APPEND file, so lines never mix.
int logMsg(int id, ...)
{
    StagedLine staged;
    takeStaged(staged);
    pthread_mutex_unlock(&msgPartsMutex);

    va_list args;
    va_start(args, id);
    std::string text = messageText(id, args);
    va_end(args);

    timeval now {};
    gettimeofday(&now, nullptr);
    LogLine line { now, staged.tag, processId(), staged.level, staged.sourceFile, staged.sourceLine };
    if (!LogWatch::notify(staged.level, id, staged.destination, text))
        return 0;
    const LogFiles::Written written = logFiles().append(staged.destination, line.format(text));
    if (written.error != 0)
        lineNotWritten(staged, written);
    else
        lineWritten(staged, written);
    return 0;
}

void reopenLogFiles()
{
    pthread_mutex_lock(&msgPartsMutex);
    logFiles().reopen();
    thresholdLevel.store(-1, std::memory_order_relaxed);
    pthread_mutex_unlock(&msgPartsMutex);
}
