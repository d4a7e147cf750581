// Collects the lines the daemon's code logs on this thread, for as long as
// it lives, instead of writing them: the operator commands run that code
// to see what it would do or find, and must leave the logs alone.
#pragma once

#include <string>
#include <vector>

#include "platform/log/LogWatch.h"

class CapturedLog : public orv::log::LogWatch {
public:
    struct Entry {
        int level;
        int id;
        int destination;
        bool eventOutput;
        std::string text;
    };

    // Every level is let through for the life of the process: a remark of
    // the readers must not be lost to the log threshold.
    CapturedLog();

    void lineLogged(const Line& line) override;
    bool keepsLines() const override { return false; }

    // The entries logged since the last take, which empties the list.
    std::vector<Entry> take();

    // The log file a destination writes to ("platform", "domain-C", ...).
    static std::string destinationName(int destination);

private:
    std::vector<Entry> m_entries;
};
