// Results queued from the command line for the next calls of each kind, so
// a test can make the proxy refuse a call at a chosen moment.
#pragma once

#include <deque>
#include <map>
#include <string>

class FailQueue {
public:
    void add(const std::string& call, int code) { m_queues[call].push_back(code); }

    // The next queued result for `call`, or 0 (success) when none is left.
    int take(const std::string& call);

private:
    std::map<std::string, std::deque<int>> m_queues;
};
