// Lets code see the lines its own thread logs while a watch is in place:
// the daemon's counters tell from them whether a channel ran into a failure,
// and the operator tools collect what the daemon's code would log (and what
// its readers find in a file) without writing anything to the logs.
#pragma once

#include <string>

namespace orv::log {

class LogWatch {
public:
    struct Line {
        int level;
        int id; // 0 for a trace line
        int destination; // LogFiles index: trace, platform, domains; -1 for none
        bool eventOutput; // logged under an EventOutput: the report itself
        const std::string& text;
    };

    // Watches the calling thread until destroyed; a watch made while another
    // is in place hides it until then.
    LogWatch();
    virtual ~LogWatch();
    LogWatch(const LogWatch&) = delete;
    LogWatch& operator=(const LogWatch&) = delete;

    // One line this thread logs, from inside logMsg: it must not log.
    virtual void lineLogged(const Line& line) = 0;

    // False: the watched lines go to the watch only, not to the log files.
    virtual bool keepsLines() const { return true; }

    // Called by logMsg for each line; true when the line is to be written.
    static bool notify(int level, int id, int destination, const std::string& text);
    // Called by logMsg for a line no file took; `why` names the file and
    // the reason.
    static void notifyNotWritten(const std::string& why);

    // Marks the lines logged while it lives as the report's own output (an
    // event's message in the logs) rather than remarks about the report,
    // and notes whether each of them reached its file: a report whose line
    // was lost did not happen.
    class EventOutput {
    public:
        EventOutput();
        ~EventOutput();
        EventOutput(const EventOutput&) = delete;
        EventOutput& operator=(const EventOutput&) = delete;

        // Empty while every line was written; else the file and reason of
        // the first one lost.
        const std::string& notWritten() const { return m_notWritten; }

    private:
        friend class LogWatch;
        EventOutput* m_outer;
        std::string m_notWritten;
    };

private:
    LogWatch* m_previous;
};

}
