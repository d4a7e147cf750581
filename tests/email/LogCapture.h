// What the tests' log files gained since the capture was made. All email
// tests share one log directory, set up before the first log line.
#pragma once

#include <string>

class LogCapture {
public:
    LogCapture();
    std::string trace() const;
    std::string platform() const;

private:
    long long m_traceStart;
    long long m_platformStart;
};
