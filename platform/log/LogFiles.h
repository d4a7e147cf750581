// The open log files of the process, one per destination, reopened when a
// file is replaced or removed underneath (rotation, an administrator's rm).
// Not thread safe on its own: the logging library calls it under msgPartsMutex.
#pragma once

#include <string>
#include <string_view>

class LogFiles {
public:
    static constexpr int traceIndex = 0;
    static constexpr int platformIndex = 1;
    static constexpr int firstDomainIndex = 2;
    static constexpr int domainCount = 18;
    static constexpr int count = firstDomainIndex + domainCount;

    ~LogFiles();

    // Appends `line` (already newline terminated) to destination `index`.
    // Failures are swallowed: logging must never stop the caller.
    void append(int index, std::string_view line);

    // Forgets every open file and rereads the log directory from the environment.
    void reopen();

private:
    struct Slot {
        int fd = -1;
        long long inode = 0;
        long long lastCheck = 0; // seconds, monotonic
    };

    static std::string fileName(int index);
    void closeAll();
    bool ensureOpen(int index);
    bool stillCurrent(int index, long long now);

    std::string m_dir;
    bool m_dirKnown = false;
    Slot m_slots[count];
};
